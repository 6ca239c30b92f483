#include "app/options.h"

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "run/run_settings.h"

namespace torsel {
namespace {

// What follows an option's letters.
enum class Reading : uint8_t {
  Whole,     // a decimal value, stored as read
  LowByte,   // a decimal value, its low 8 bits stored
  Ignored,   // a decimal value, read and dropped
  Switch,    // an optional '=': the switch turned on
  Bare,      // nothing: the switch turned on
};

// One option: its letters (either case), what it reads, the field it sets
// (the one its reading names) and the line that confirms it (printf with
// the value stored), with its Japanese twin where it has one.
struct Option {
  char letter;
  char second = '\0';  // a letter that must follow, or '\0'
  Reading reading;
  int32_t RunSettings::*whole = nullptr;
  int8_t RunSettings::*lowByte = nullptr;
  uint8_t RunSettings::*on = nullptr;
  const char* echo = nullptr;
  const char* echoJa = nullptr;
};

// "手首の捩り = ON. \n"
constexpr char kWristOnJa[] = "\x8E\xE8\x8E\xF1\x82\xCC\x9D\x80\x82\xE8 = ON. \n";

// Walked in order: ND before N.
constexpr Option kOptions[] = {
    {.letter = 'R', .reading = Reading::Whole, .whole = &RunSettings::refPosture,
     .echo = "Ref.posture = %ld time frame. \n"},
    {.letter = 'F', .reading = Reading::Whole, .whole = &RunSettings::fromFrame, .echo = "  conv from Frame = %ld. \n"},
    {.letter = 'T', .reading = Reading::Whole, .whole = &RunSettings::toFrame, .echo = "  conv to   Frame = %ld. \n"},
    {.letter = 'M', .reading = Reading::LowByte, .lowByte = &RunSettings::convMode, .echo = "Conv.mode = %ld. \n"},
    {.letter = 'D', .reading = Reading::LowByte, .lowByte = &RunSettings::displayLevel,
     .echo = "Info.displayLevel = %ld. \n"},
    {.letter = 'K', .reading = Reading::Whole, .whole = &RunSettings::keepMotion, .echo = "Keep.motion = %ld. \n"},
    {.letter = 'S', .reading = Reading::Whole, .whole = &RunSettings::thinMotion, .echo = "Thin.motion = %ld. \n"},
    {.letter = 'U', .reading = Reading::Switch, .on = &RunSettings::unfoldTwist, .echo = "Unfold.twist = ON. \n"},
    {.letter = 'W', .reading = Reading::Switch, .on = &RunSettings::wristTwist, .echo = "Wrist.twist = ON. \n",
     .echoJa = kWristOnJa},
    {.letter = 'C', .reading = Reading::Switch, .on = &RunSettings::checkMode, .echo = "VMDfile.checkmode = ON. \n"},
    {.letter = 'N', .second = 'D', .reading = Reading::Bare, .on = &RunSettings::noDialog,
     .echo = "Cancel.displaying.dialogue. \n"},
    {.letter = 'N', .reading = Reading::Ignored},
};

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

const Option* findOption(const char* p) {
  for (const Option& o : kOptions) {
    if (upper(p[0]) == o.letter && (o.second == 0 || upper(p[1]) == o.second)) return &o;
  }
  return nullptr;
}

// An option's decimal value after an optional '=': white space, a sign and
// digits, saturating at the int32 limits. Without digits the value is 0 and
// the walk goes on right after the letter or the '='.
const char* readValue(const char* p, int32_t* value) {
  if (*p == '=') p++;
  const char* s = p;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  if (*s < '0' || *s > '9') {
    *value = 0;
    return p;
  }
  int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; s++) {
    if (v <= INT64_C(2147483648)) v = v * 10 + (*s - '0');
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  *value = static_cast<int32_t>(v);
  return s;
}

int8_t low8(int32_t v) { return static_cast<int8_t>(static_cast<uint8_t>(v & 0xFF)); }

// Stores what the option read and confirms it.
void apply(const Option& o, int32_t v) {
  switch (o.reading) {
    case Reading::Whole:
      gSettings.*o.whole = v;
      std::printf(o.echo, static_cast<long>(v));
      break;
    case Reading::LowByte:
      gSettings.*o.lowByte = low8(v);
      std::printf(o.echo, static_cast<long>(gSettings.*o.lowByte));
      break;
    case Reading::Switch:
    case Reading::Bare:
      gSettings.*o.on = 0xFF;
      std::printf("%s", o.echoJa != nullptr ? plat::say(o.echoJa, o.echo) : o.echo);
      break;
    case Reading::Ignored:
      break;
  }
}

}  // namespace

bool isOptionToken(const char* token) { return token[0] == '-' || (plat::kSlashStartsOption && token[0] == '/'); }

void walkOptionToken(const char* token, bool store) {
  const char* p = token;
  while (*p != '\0') {
    if (*p == '-' || *p == '/') {
      p++;
      continue;
    }
    const Option* o = findOption(p);
    if (o == nullptr) {
      std::printf("\nOption error: <%c> %02X", *p, static_cast<unsigned>(static_cast<signed char>(*p)));
      p++;
      continue;
    }
    p += o->second != 0 ? 2 : 1;
    int32_t v = 0;
    if (o->reading == Reading::Switch) {
      if (*p == '=') p++;
    } else if (o->reading != Reading::Bare) {
      p = readValue(p, &v);
    }
    if (store) apply(*o, v);
  }
}

void printUsage() {
  std::printf("Usage \n");
  std::printf("   Torsel [Options] <vmdFileName> (<vmdFileName> ...) \n");
  std::printf(" Options \n");
  std::printf("   -Fxxx   convert start frame time  (From)(default %ld) \n", static_cast<long>(gSettings.fromFrame));
  std::printf("   -Txxx   convert end   frame time  (To  )(default %ld) \n", static_cast<long>(gSettings.toFrame));
  std::printf("   -C      VMD file check mode                           \n");
  std::printf("   -ND     cancel displaying dialogue (no dialogue) (non-stop)  \n");
  std::printf("   -Mxxx   conversion mode (0 to 12)(default %d) \n", static_cast<int>(gSettings.convMode));
  std::printf("           -M0   min orbit YZ  rotation of arm-twist conv. \n");
  std::printf("           -M1   Y-and-Z axis  rotation of arm-twist conv. \n");
  std::printf("           -M2   pure X cancel rotation of arm-twist conv. \n");
  std::printf("           -M3   axis-dependent X cancel rotation of arm-twist conv. (past) \n");
  std::printf("           -M4   axis-dependent X cancel rotation of arm-twist conv. (inv order)\n");
  std::printf("           -M5   axis-dependent X cancel rotation of arm-twist conv. \n");
  std::printf("           -M8   min orbit YZ  rotation of arm- and hand-twist conv. \n");
  std::printf("           -M9   Y-and-Z axis  rotation of arm- and hand-twist conv. \n");
  std::printf("           -M10  pure X cancel rotation of arm- and hand-twist conv. \n");
  std::printf("           -M11  axis-dependent X cancel rotation of arm- and hand-twist conv.  \n");
  std::printf("                                                                         (past) \n");
  std::printf("           -M12  axis-dependent X cancel rotation of arm- and hand-twist conv.  \n");
  std::printf("                                                                    (inv order) \n");
  std::printf("           -M13  axis-dependent X cancel rotation of arm- and hand-twist conv.  \n");
}

void printHelp() {
  gSettings = RunSettings{};
  printUsage();
  // The options this version adds, which the usage above predates.
  std::printf("   -Kn     keep the motion within n/10 degrees (modes 4 and 12) \n");
  std::printf("   -Sn     thin every bone's keyframes within n/10 degrees (modes 4 and 12, or -U) \n");
  std::printf("   -U      fold the twist bones back into their limbs \n");
  std::printf("   -W      move the wrists' twist onto the hand twist bones \n");
  std::printf("   <model>.pmx / .pmd   twist axes and fixed axes of your model \n");
  std::printf("   --help, --version \n");
}

}  // namespace torsel
