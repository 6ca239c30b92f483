#include "app/driver.h"

int main(int argc, char** argv) { return torsel::runTorsel(argc, argv); }
