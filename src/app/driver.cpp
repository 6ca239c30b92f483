#include "app/driver.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/arg_list.h"
#include "app/options.h"
#include "app/run_record.h"
#include "app/summary.h"
#include "arm/bone_pairs.h"
#include "arm/model_axes.h"
#include "io/byte_stream.h"
#include "io/file_dialog.h"
#include "io/path_util.h"
#include "model/model_file.h"
#include "model/model_rig.h"
#include "platform/platform.h"
#include "result/result_codes.h"
#include "run/run_settings.h"
#include "vmd/convert.h"
#include "vmd/prescan.h"
#include "vpd/pose_convert.h"

namespace torsel {
namespace {

constexpr int kMaxPlatformArgs = 511;

// "%sさんセットアップ \n": the model line in Japanese.
constexpr char kModelLineJa[] = "%s\x82\xB3\x82\xF1\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76 \n";

// The model the user names, as read; the model in use names it from here.
struct NamedModel {
  ModelAxes axes;
  char reason[256];  // why it cannot serve
};
NamedModel gNamedModel;

// What start-up keeps for the rest of the run.
struct StartUp {
  char programDir[plat::kPathMax];  // where the dialog starts
  char dialogPath[plat::kPathMax];  // the file chosen in it
  uint8_t handTwist = 0;            // as the start-up mode derives it, for a run without a file
};
StartUp gStartUp;

// The file pass: the file in hand and its output; the outputs this run has
// published, and every motion it reads, known before the first file (no
// output replaces either); whether the pose's note was said.
struct FilePass {
  char inputPath[plat::kPathMax];
  char outputPath[plat::kPathMax];
  plat::FileId written[kMaxPlatformArgs];
  int writtenCount = 0;
  plat::FileId inputs[kMaxPlatformArgs];
  int inputCount = 0;
  bool poseNoted = false;
};
FilePass gPass;

bool isModelToken(const char* token) { return !isOptionToken(token) && isModelPath(token); }

// True when a motion or a pose is among the arguments.
bool anyMotionOrPose() {
  for (int i = 1; i < gArgs.argCount; i++) {
    if (!isOptionToken(gArgs.argItems[i]) && !isModelToken(gArgs.argItems[i])) return true;
  }
  return false;
}

// The last model named among the arguments, or null.
const char* lastModelToken() {
  const char* model = nullptr;
  for (int i = 1; i < gArgs.argCount; i++) {
    if (isModelToken(gArgs.argItems[i])) model = gArgs.argItems[i];
  }
  return model;
}

// The model-setup line: the model whose axes the run turns about.
void printModelLine() { std::printf(plat::say(kModelLineJa, "Converting setup: Model [%s] \n"), modelInUseName()); }

// True when the model read cannot serve this run, why printed: every bone
// the run writes or plays must be there (a twist keyed onto a bone the
// model lacks is a turn lost), and every axis it splits about must point
// somewhere.
bool modelRefused(const ModelAxes& m, const char* path) {
  bool pairs[kPairCount];
  for (int i = 0; i < kPairCount; i++) pairs[i] = pairIsActive(i, gSettings);
  const bool fold = gSettings.unfoldTwist != 0, wrists = gSettings.wristTwist != 0;
  if (const char* bone = missingBone(m, pairs, fold, wrists)) {
    std::printf("Cannot use model file : %s (no bone %s)\n", path, plat::conText(bone));
    recordModelRefused("", bone, false);
    return true;
  }
  for (int i = 0; i < kPairCount; i++) {
    // A fold splits nothing; -W turns the wrists about the elbows' axes, whatever the mode.
    const bool needed = (pairs[i] && !fold) || (wrists && kPairs[i].needsHandTwist);
    if (!needed || !m.noDirection[i]) continue;
    std::printf("Cannot use model file : %s (the axis of %s has no direction)\n", path,
                plat::conText(kPairs[i].sourceBone));
    recordModelRefused("", kPairs[i].sourceBone, true);
    return true;
  }
  return false;
}

// The model in use made of the model read: its axes where it gives them,
// the built-in ones elsewhere.
ModelInUse modelOf(const ModelAxes& m) {
  ModelInUse model = builtInModel();
  model.name = m.name;
  for (int i = 0; i < kPairCount; i++) {
    // The bones play as this model plays them: a twist bone it lacks (a fold's) has no fixed axis.
    PairAxes& axes = model.pairs[static_cast<size_t>(i)];
    axes.twistFixed = m.fixed[i] && m.found[i];
    axes.source = {m.sourceFixed[i], m.sourceAxis[i]};
    if (m.found[i]) axes.twistAxis = m.axis[i];
  }
  return model;
}

// Takes the axes of the pairs this run converts from the model; the run
// ends with result 3 when the model cannot give them.
int32_t setupFromModel(const char* path) {
  const ModelAxes& m = gNamedModel.axes;
  if (readModelAxes(path, &gNamedModel.axes, gNamedModel.reason, sizeof gNamedModel.reason) != 0) {
    std::printf("Cannot use model file : %s (%s)\n", path, gNamedModel.reason);
    recordModelRefused(gNamedModel.reason, nullptr, false);
    return kResultModel;
  }
  if (modelRefused(m, path)) return kResultModel;
  useModel(modelOf(m));
  printModelLine();
  constexpr const char* kLabels[kPairCount] = {"Left  arm  ", "Left  elbow", "Right arm  ", "Right elbow"};
  for (int i = 0; i < kPairCount; i++) {
    if (!m.found[i] || !(showAtLeast(1) || gSettings.checkMode)) continue;
    const Vec3& a = m.axis[i];
    std::printf("     %s axis = %g %g %g (%s) \n", kLabels[i], static_cast<double>(a.x), static_cast<double>(a.y),
                static_cast<double>(a.z), m.fixed[i] ? "fixed axis" : "bone direction");
  }
  // What of the arm group the model cannot play as intended, before any motion.
  reportRig(m, gSettings.unfoldTwist != 0, showAtLeast(1) || gSettings.checkMode, gSettings.checkMode && !anyMotionOrPose());
  return kResultOk;
}

void deriveModes() {
  const int8_t mode = gSettings.convMode;
  gSettings.handTwist = (mode >= 8 && (mode & 8) != 0) ? 8 : 0;
  gSettings.subMode = static_cast<int8_t>(mode & ~8);
}

void printPairCounts() {
  std::printf("  => between start(%ld) and end(%ld) frame time, \n", static_cast<long>(gSettings.fromFrame),
              static_cast<long>(gSettings.toFrame));
  // Frames are unsigned: a negative end is the last frame there is, a
  // negative start beyond every frame.
  const auto from = static_cast<uint32_t>(gSettings.fromFrame), to = static_cast<uint32_t>(gSettings.toFrame);
  if (from > to) {
    std::printf("  => no frame in range: start(%lu) comes after end(%lu) as unsigned frame times \n",
                static_cast<unsigned long>(from), static_cast<unsigned long>(to));
  }
  constexpr const char* kLines[kPairCount] = {
      "     Left  arm   count = %ld (%s) \n",
      "     Left  elbow count = %ld (%s) \n",
      "     Right arm   count = %ld (%s) \n",
      "     Right elbow count = %ld (%s) \n",
  };
  for (int i = 0; i < kPairCount; i++) {
    std::printf(kLines[i], static_cast<long>(gScans[i].reccnt), plat::conText(kPairs[i].sourceBone));
  }
  std::printf("\n");
}

// A pose is one frame: once a run, that a frame range and a bound say
// nothing there.
void notePoseOptions() {
  if (gPass.poseNoted || (gSettings.fromFrame == 0 && gSettings.toFrame == RunSettings{}.toFrame && gSettings.keepMotion <= 0)) {
    return;
  }
  gPass.poseNoted = true;
  // "ポーズ: -F, -T と -K は 1 フレームのポーズには関係ないので無視します. \n"
  constexpr char kPoseNoteJa[] = "\x83\x7C\x81\x5B\x83\x59: -F, -T \x82\xC6 -K \x82\xCD 1 \x83\x74\x83\x8C\x81\x5B\x83\x80"
                                 "\x82\xCC\x83\x7C\x81\x5B\x83\x59\x82\xC9\x82\xCD\x8A\xD6\x8C\x57\x82\xC8\x82\xA2\x82\xCC"
                                 "\x82\xC5\x96\xB3\x8E\x8B\x82\xB5\x82\xDC\x82\xB7. \n";
  std::printf("%s", plat::say(kPoseNoteJa, "Pose: -F, -T and -K mean nothing for a single frame; ignored. \n"));
}

// One file argument: pre-scan, then (unless checking) conversion; a file
// ending in .vpd is a pose.
int32_t processFile(const char* token) {
  std::printf("\n");
  const bool pose = pathIsPose(token);
  if (std::strlen(token) >= sizeof gPass.inputPath ||
      pathOutputName(gPass.outputPath, static_cast<int>(sizeof gPass.outputPath), token, pathOutputSuffix(token)) != 0) {
    gPass.inputPath[0] = '\0';
    std::printf("Path too long : %s\n", token);
    recordRefusal(FileRefusal::Path);
    return kResultCannotOpen;
  }
  std::strcpy(gPass.inputPath, token);
  deriveModes();
  // An output that is the input itself (a link to it), or that this run
  // has written already, would lose a motion: refused before anything is read.
  plat::FileId out, in;
  if (plat::fileId(gPass.outputPath, &out) == 0) {
    if (plat::fileId(gPass.inputPath, &in) == 0 && in == out) {
      std::printf("Output is the input file : %s\n", gPass.outputPath);
      recordRefusal(FileRefusal::Output);
      return kResultCannotOpen;
    }
    for (int i = 0; i < gPass.inputCount && !gSettings.checkMode; i++) {
      if (gPass.inputs[i] != out) continue;
      std::printf("Output is an input of this run : %s\n", gPass.outputPath);
      recordRefusal(FileRefusal::Output);
      return kResultCannotOpen;
    }
    for (int i = 0; i < gPass.writtenCount; i++) {
      if (gPass.written[i] != out) continue;
      std::printf("Output already written in this run : %s\n", gPass.outputPath);
      recordRefusal(FileRefusal::Output);
      return kResultCannotOpen;
    }
  }

  if (pose) notePoseOptions();
  // A motion cut short is converted as far as it goes; the run says so at its end.
  const int32_t scanned = pose ? confirmPoseFile(gPass.inputPath, gSettings) : confirmMotionFile(gPass.inputPath);
  if (scanned != kResultOk && scanned != kResultCut) return scanned;
  if (showAtLeast(1) && !pose) printPairCounts();
  if (gSettings.checkMode) return scanned;

  const int32_t result = pose ? convertPoseFile(gPass.outputPath, gPass.inputPath, gSettings) : convertMotionFile(gPass.outputPath, gPass.inputPath);
  if (result != kResultOk && result != kResultBeyond) return result;
  if (gPass.writtenCount < kMaxPlatformArgs && plat::fileId(gPass.outputPath, &out) == 0) gPass.written[gPass.writtenCount++] = out;
  std::printf("=> %s \n", gPass.outputPath);
  std::printf("Conversion OK. \n");
  return scanned != kResultOk ? scanned : result;
}

// A refusal: its reason (in the user's language), the usage, status 1.
int32_t refuseWith(const char* reason) {
  std::printf("%s", reason);
  printUsage();
  std::fflush(stdout);
  return kResultRefused;
}

void reportResult(int32_t result) {
  if (result == kResultOk) return;
  std::printf("Error code %d. \n", static_cast<int>(result));
  if (result == kResultCannotOpen) std::printf(": cannot open file. \n");
  if (result == kResultFormat) std::printf(": file format. \n");
  if (result == kResultModel) std::printf(": model file. \n");
  if (result == kResultCut) std::printf(": motion cut short. \n");
  if (result == kResultBeyond) std::printf(": bound not held. \n");
}

// The arguments into gArgs (511 at most), and the program's folder.
void collectArguments(int argc, char** argv) {
  clearArgList(&gArgs);
  for (int i = 0; i < argc; i++) {
    if (i == kMaxPlatformArgs) {
      std::printf("Too many command line parameters.\n");
      break;
    }
    addArgToken(&gArgs, argv[i]);
  }
  const char* program = gArgs.argCount > 0 ? gArgs.argItems[0] : "";
  if (std::strlen(program) < sizeof gStartUp.programDir) {
    pathDirPart(gStartUp.programDir, program);
  } else {
    gStartUp.programDir[0] = '\0';
  }
}

// Whole tokens only: "--help" and "--version" answer and end the run
// (true); any other token walks as before.
bool answeredAlone() {
  for (int i = 1; i < gArgs.argCount; i++) {
    const std::string_view token = gArgs.argItems[i];
    if (token == "--version") return true;  // the banner names the program and its version
    if (token == "--help") {
      printHelp();
      return true;
    }
  }
  return false;
}

// Gathering: the defaults, the built-in model, every option once (so that
// every option applies to every file) and the model named, if any. The
// model's result: the run converts nothing unless it is kResultOk.
int32_t gatherSettings() {
  gSettings = RunSettings{};
  deriveModes();
  useModel(builtInModel());
  // A model given with the motions announces itself once it is read.
  if (lastModelToken() == nullptr) printModelLine();
  recordEchoes(true);
  for (int i = 1; i < gArgs.argCount; i++) {
    if (isOptionToken(gArgs.argItems[i])) walkOptionToken(gArgs.argItems[i], true);
  }
  recordEchoes(false);
  // The mode check and the model need the run's pairs; each file derives
  // them again, and a run without one keeps the start-up pairs.
  gStartUp.handTwist = gSettings.handTwist;
  deriveModes();
  const char* model = lastModelToken();
  return model != nullptr ? setupFromModel(model) : kResultOk;
}

// Refusing: a mode no method serves, and options that cannot go together,
// end the run with the reason and the usage (kResultRefused). A check
// refuses nothing.
int32_t refuseSettings() {
  if (gSettings.checkMode) return kResultOk;
  // Any other method would write rotations that nothing defined.
  if (gSettings.subMode < 0 || gSettings.subMode > 5) {
    std::printf("Conv.mode %ld is not supported. \n", static_cast<long>(gSettings.convMode));
    return refuseWith("");
  }
  // Only method 4 keeps the pose at the keyframes themselves; a fold
  // splits nothing.
  if (gSettings.keepMotion > 0 && !gSettings.unfoldTwist && gSettings.subMode != 4) {
    // "Keep.motion はモード 4 か 12 でのみ使えます. \n"
    return refuseWith(plat::say("Keep.motion \x82\xCD\x83\x82\x81\x5B\x83\x68 4 \x82\xA9 12 "
                                "\x82\xC5\x82\xCC\x82\xDD\x8E\x67\x82\xA6\x82\xDC\x82\xB7. \n",
                                "Keep.motion needs mode 4 or 12. \n"));
  }
  // Thinning keeps the arm group as -K does.
  if (gSettings.thinMotion > 0 && !gSettings.unfoldTwist && gSettings.subMode != 4) {
    // "Thin.motion はモード 4 か 12 か -U でのみ使えます. \n"
    return refuseWith(plat::say("Thin.motion \x82\xCD\x83\x82\x81\x5B\x83\x68 4 \x82\xA9 12 \x82\xA9 -U "
                                "\x82\xC5\x82\xCC\x82\xDD\x8E\x67\x82\xA6\x82\xDC\x82\xB7. \n",
                                "Thin.motion needs mode 4 or 12, or -U. \n"));
  }
  // A fold leaves no twist bone keyframe to move the wrist's twist onto.
  if (gSettings.wristTwist && gSettings.unfoldTwist) {
    // "Wrist.twist は Unfold.twist と一緒に使えません. \n"
    return refuseWith(plat::say("Wrist.twist \x82\xCD Unfold.twist \x82\xC6\x88\xEA\x8F\x8F\x82\xC9"
                                "\x8E\x67\x82\xA6\x82\xDC\x82\xB9\x82\xF1. \n",
                                "Wrist.twist cannot be used with Unfold.twist. \n"));
  }
  return kResultOk;
}

// Started with no argument at all, the run asks for a motion in the dialog;
// false when none was chosen or it cannot be opened (the usage printed).
// Any argument, options alone too, runs the files there are: none, then
// the summary of 0 files.
bool haveFile() {
  if (gArgs.argCount >= 2) return true;
  gStartUp.dialogPath[0] = '\0';
  bool chosen = openFileDialog(gStartUp.dialogPath, kDialogMotion, gStartUp.programDir) == 0;
  if (chosen) {
    const int before = gArgs.argCount;
    addArgToken(&gArgs, gStartUp.dialogPath);
    chosen = gArgs.argCount > before && rdProbe(gStartUp.dialogPath) == 0;
    rdClose();
  }
  if (!chosen) {
    printUsage();
    std::fflush(stdout);
  }
  return chosen;
}

// Running: every file in turn (option tokens walked again, silently) until
// the first failure, after a model that could not serve none; then the
// result and the summary. The run's result: the failure, else the first
// warning.
int32_t runFiles(int32_t result) {
  gSettings.handTwist = gStartUp.handTwist;
  gTotals = RunTotals{};
  gPass.writtenCount = 0;
  gPass.inputCount = 0;
  gPass.poseNoted = false;
  for (int i = 1; i < gArgs.argCount; i++) {
    const char* token = gArgs.argItems[i];
    if (!isOptionToken(token) && !isModelToken(token) && plat::fileId(token, &gPass.inputs[gPass.inputCount]) == 0) gPass.inputCount++;
  }
  gPass.inputPath[0] = '\0';
  int32_t warning = kResultOk;  // the first one
  for (int i = 1; i < gArgs.argCount && result == kResultOk; i++) {
    const char* token = gArgs.argItems[i];
    if (isOptionToken(token)) {
      walkOptionToken(token, false);
    } else if (!isModelToken(token)) {
      result = processFile(token);
      recordFile(pathIsPose(token), result);
      if (isWarning(result)) {
        if (warning == kResultOk) warning = result;
        result = kResultOk;
      }
    }
  }
  if (result == kResultOk) result = warning;
  reportResult(result);
  std::fflush(stdout);
  showRunSummary(gPass.inputPath);
  std::fflush(stdout);
  return result;
}

}  // namespace

int runTorsel(int argc, char** argv) {
  plat::guardRun();
  recordRunStart();
  std::printf("Torsel V1.04a\n");
  collectArguments(argc, argv);
  if (answeredAlone()) return kResultOk;
  const int32_t model = gatherSettings();
  if (const int32_t refused = refuseSettings(); refused != kResultOk) return refused;
  // A model refused ends the run as it would with motions.
  if (model == kResultOk && !haveFile()) return kResultOk;
  return runFiles(model);
}

}  // namespace torsel
