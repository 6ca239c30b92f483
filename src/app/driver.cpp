#include "app/driver.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/arg_list.h"
#include "app/summary.h"
#include "io/byte_stream.h"
#include "io/file_dialog.h"
#include "io/path_util.h"
#include "model/model_file.h"
#include "platform/platform.h"
#include "twist/bone_pairs.h"
#include "twist/model_axes.h"
#include "twist/result_codes.h"
#include "twist/run_settings.h"
#include "vmd/convert.h"
#include "vmd/prescan.h"
#include "vpd/pose_convert.h"

namespace torsel {
namespace {

constexpr int kMaxPlatformArgs = 511;

// "%sさんセットアップ \n": the model line in Japanese.
constexpr char kModelLineJa[] = "%s\x82\xB3\x82\xF1\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76 \n";

ModelAxes gModel;
char gModelReason[256];

char gProgramDir[plat::kPathMax];
char gDialogPath[plat::kPathMax];
char gInputPath[plat::kPathMax];
char gOutputPath[plat::kPathMax];

// The outputs this run has published, and every motion it reads, known
// before the first file: no output replaces either.
plat::FileId gWritten[kMaxPlatformArgs];
int gWrittenCount = 0;
plat::FileId gInputs[kMaxPlatformArgs];
int gInputCount = 0;
bool gPoseNoted = false;

bool isOptionToken(const char* token) { return token[0] == '-' || (plat::kSlashStartsOption && token[0] == '/'); }

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

// Walks one option token. With `apply` the values are stored and
// confirmed; without, they are only stepped over. Unknown characters are
// reported either way.
void walkOptionToken(const char* token, bool apply) {
  const char* p = token;
  int32_t v = 0;
  while (*p != '\0') {
    switch (*p) {
      case '-':
      case '/':
        p++;
        break;
      case 'R':
      case 'r':
        p = readValue(p + 1, &v);
        if (apply) {
          gSettings.refPosture = v;
          std::printf("Ref.posture = %ld time frame. \n", static_cast<long>(v));
        }
        break;
      case 'F':
      case 'f':
        p = readValue(p + 1, &v);
        if (apply) {
          gSettings.fromFrame = v;
          std::printf("  conv from Frame = %ld. \n", static_cast<long>(v));
        }
        break;
      case 'T':
      case 't':
        p = readValue(p + 1, &v);
        if (apply) {
          gSettings.toFrame = v;
          std::printf("  conv to   Frame = %ld. \n", static_cast<long>(v));
        }
        break;
      case 'M':
      case 'm':
        p = readValue(p + 1, &v);
        if (apply) {
          gSettings.convMode = low8(v);
          std::printf("Conv.mode = %ld. \n", static_cast<long>(gSettings.convMode));
        }
        break;
      case 'D':
      case 'd':
        p = readValue(p + 1, &v);
        if (apply) {
          gSettings.displayLevel = low8(v);
          std::printf("Info.displayLevel = %ld. \n", static_cast<long>(gSettings.displayLevel));
        }
        break;
      case 'K':
      case 'k':
        p = readValue(p + 1, &v);
        if (apply) {
          gSettings.keepMotion = v;
          std::printf("Keep.motion = %ld. \n", static_cast<long>(v));
        }
        break;
      case 'U':
      case 'u':
        p++;
        if (*p == '=') p++;
        if (apply) {
          gSettings.unfoldTwist = 0xFF;
          std::printf("Unfold.twist = ON. \n");
        }
        break;
      case 'W':
      case 'w':
        p++;
        if (*p == '=') p++;
        if (apply) {
          gSettings.wristTwist = 0xFF;
          // "手首の捩り = ON. \n"
          constexpr char kWristOnJa[] = "\x8E\xE8\x8E\xF1\x82\xCC\x9D\x80\x82\xE8 = ON. \n";
          std::printf("%s", plat::say(kWristOnJa, "Wrist.twist = ON. \n"));
        }
        break;
      case 'C':
      case 'c':
        p++;
        if (*p == '=') p++;
        if (apply) {
          gSettings.checkMode = 0xFF;
          std::printf("VMDfile.checkmode = ON. \n");
        }
        break;
      case 'N':
      case 'n':
        if (p[1] == 'D' || p[1] == 'd') {
          p += 2;
          if (apply) {
            gSettings.noDialog = 0xFF;
            std::printf("Cancel.displaying.dialogue. \n");
          }
        } else {
          p = readValue(p + 1, &v);
        }
        break;
      default:
        std::printf("\nOption error: <%c> %02X", *p, static_cast<unsigned>(static_cast<signed char>(*p)));
        p++;
        break;
    }
  }
}

bool isModelToken(const char* token) { return !isOptionToken(token) && isModelPath(token); }

// The index of the first motion or pose among the arguments, or 0.
int firstFileToken() {
  for (int i = 1; i < gArgs.argCount; i++) {
    if (!isOptionToken(gArgs.argItems[i]) && !isModelToken(gArgs.argItems[i])) return i;
  }
  return 0;
}

// The last model named among the arguments, or null.
const char* lastModelToken() {
  const char* model = nullptr;
  for (int i = 1; i < gArgs.argCount; i++) {
    if (isModelToken(gArgs.argItems[i])) model = gArgs.argItems[i];
  }
  return model;
}

// Takes the axes of the pairs this run converts from the model; the run
// ends with result 3 when the model cannot give them.
int32_t setupFromModel(const char* path) {
  if (readModelAxes(path, &gModel, gModelReason, sizeof gModelReason) != 0) {
    std::printf("Cannot use model file : %s (%s)\n", path, gModelReason);
    return kResultModel;
  }
  // Every bone the run writes or plays must be there: a twist keyed onto a
  // bone the model lacks is a turn lost.
  bool pairs[kPairCount];
  for (int i = 0; i < kPairCount; i++) pairs[i] = pairIsActive(i, gSettings);
  const bool fold = gSettings.unfoldTwist != 0, wrists = gSettings.wristTwist != 0;
  if (const char* bone = missingBone(gModel, pairs, fold, wrists)) {
    std::printf("Cannot use model file : %s (no bone %s)\n", path, plat::conText(bone));
    return kResultModel;
  }
  for (int i = 0; i < kPairCount; i++) {
    // A fold splits nothing; -W turns the wrists about the elbows' axes, whatever the mode.
    const bool needed = (pairs[i] && !fold) || (wrists && gPairs[i].needsHandTwist);
    if (!needed || !gModel.noDirection[i]) continue;
    std::printf("Cannot use model file : %s (the axis of %s has no direction)\n", path,
                plat::conText(gPairs[i].sourceBone));
    return kResultModel;
  }
  std::printf(plat::say(kModelLineJa, "Converting setup: Model [%s] \n"), gModel.name);
  setModelInUse(gModel.name);
  constexpr const char* kLabels[kPairCount] = {"Left  arm  ", "Left  elbow", "Right arm  ", "Right elbow"};
  for (int i = 0; i < kPairCount; i++) {
    // The bones play as this model plays them: a twist bone it lacks (a fold's) has no fixed axis.
    gPairs[i].twistFixed = gModel.fixed[i] && gModel.found[i];
    gPairs[i].sourceFixed = gModel.sourceFixed[i];
    gPairs[i].sourceAxis = gModel.sourceAxis[i];
    if (!gModel.found[i]) continue;
    const Vec3& a = gModel.axis[i];
    gPairs[i].restQuat = {a.x, a.y, a.z, 0.0f};
    gPairs[i].twistAxis = a;
    if (showAtLeast(1) || gSettings.checkMode) {
      std::printf("     %s axis = %g %g %g (%s) \n", kLabels[i], static_cast<double>(a.x), static_cast<double>(a.y),
                  static_cast<double>(a.z), gModel.fixed[i] ? "fixed axis" : "bone direction");
    }
  }
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
    std::printf(kLines[i], static_cast<long>(gScans[i].reccnt), plat::conText(gPairs[i].sourceBone));
  }
  std::printf("\n");
}

// A pose is one frame: once a run, that a frame range and a bound say
// nothing there.
void notePoseOptions() {
  if (gPoseNoted || (gSettings.fromFrame == 0 && gSettings.toFrame == RunSettings{}.toFrame && gSettings.keepMotion <= 0)) {
    return;
  }
  gPoseNoted = true;
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
  if (std::strlen(token) >= sizeof gInputPath ||
      pathOutputName(gOutputPath, static_cast<int>(sizeof gOutputPath), token, pathOutputSuffix(token)) != 0) {
    gInputPath[0] = '\0';
    std::printf("Path too long : %s\n", token);
    return kResultCannotOpen;
  }
  std::strcpy(gInputPath, token);
  deriveModes();
  // An output that is the input itself (a link to it), or that this run
  // has written already, would lose a motion: refused before anything is read.
  plat::FileId out, in;
  if (plat::fileId(gOutputPath, &out) == 0) {
    if (plat::fileId(gInputPath, &in) == 0 && in == out) {
      std::printf("Output is the input file : %s\n", gOutputPath);
      return kResultCannotOpen;
    }
    for (int i = 0; i < gInputCount && !gSettings.checkMode; i++) {
      if (gInputs[i] != out) continue;
      std::printf("Output is an input of this run : %s\n", gOutputPath);
      return kResultCannotOpen;
    }
    for (int i = 0; i < gWrittenCount; i++) {
      if (gWritten[i] != out) continue;
      std::printf("Output already written in this run : %s\n", gOutputPath);
      return kResultCannotOpen;
    }
  }

  if (pose) notePoseOptions();
  // A motion cut short is converted as far as it goes; the run says so at its end.
  const int32_t scanned = pose ? confirmPoseFile(gInputPath, gSettings) : confirmMotionFile(gInputPath);
  if (scanned != kResultOk && scanned != kResultCut) return scanned;
  if (showAtLeast(1) && !pose) printPairCounts();
  if (gSettings.checkMode) return scanned;

  const int32_t result = pose ? convertPoseFile(gOutputPath, gInputPath, gSettings) : convertMotionFile(gOutputPath, gInputPath);
  if (result != kResultOk && result != kResultBeyond) return result;
  if (gWrittenCount < kMaxPlatformArgs && plat::fileId(gOutputPath, &out) == 0) gWritten[gWrittenCount++] = out;
  std::printf("=> %s \n", gOutputPath);
  std::printf("Conversion OK. \n");
  return scanned != kResultOk ? scanned : result;
}

// Options that cannot go together: the reason in the user's language, the
// usage, and the status of an unsupported mode.
int refuseOptions(const char* ja, const char* en) {
  std::printf("%s", plat::say(ja, en));
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

}  // namespace

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

int runTorsel(int argc, char** argv) {
  plat::guardRun();
  std::printf("Torsel V1.04a\n");

  clearArgList(&gArgs);
  for (int i = 0; i < argc; i++) {
    if (i == kMaxPlatformArgs) {
      std::printf("Too many command line parameters.\n");
      break;
    }
    addArgToken(&gArgs, argv[i]);
  }
  const char* program = gArgs.argCount > 0 ? gArgs.argItems[0] : "";
  if (std::strlen(program) < sizeof gProgramDir) {
    pathDirPart(gProgramDir, program);
  } else {
    gProgramDir[0] = '\0';
  }

  // Whole tokens only: "--help" and "--version" answer and end the run;
  // any other token walks as before.
  for (int i = 1; i < gArgs.argCount; i++) {
    const std::string_view token = gArgs.argItems[i];
    if (token == "--version") return kResultOk;  // the banner names the program and its version
    if (token == "--help") {
      gSettings = RunSettings{};
      printUsage();
      // The options this version adds, which the usage above predates.
      std::printf("   -Kn     keep the motion within n/10 degrees (modes 4 and 12) \n");
      std::printf("   -U      fold the twist bones back into their limbs \n");
      std::printf("   -W      move the wrists' twist onto the hand twist bones \n");
      std::printf("   <model>.pmx / .pmd   twist axes and fixed axes of your model \n");
      std::printf("   --help, --version \n");
      return kResultOk;
    }
  }

  gSettings = RunSettings{};
  deriveModes();
  copySetupRestQuats();
  setModelInUse(nullptr);
  // A model given with the motions announces itself once it is read.
  if (lastModelToken() == nullptr) printModelSetupLine();

  for (int i = 1; i < gArgs.argCount; i++) {
    if (isOptionToken(gArgs.argItems[i])) walkOptionToken(gArgs.argItems[i], true);
  }
  // The mode check and the model need the run's pairs; each file derives
  // them again, and a run without one keeps the start-up pairs.
  const uint8_t startUpHandTwist = gSettings.handTwist;
  deriveModes();
  int32_t result = kResultOk;
  if (const char* model = lastModelToken()) result = setupFromModel(model);
  // Any other method would write rotations that nothing defined.
  if (!gSettings.checkMode && (gSettings.subMode < 0 || gSettings.subMode > 5)) {
    std::printf("Conv.mode %ld is not supported. \n", static_cast<long>(gSettings.convMode));
    printUsage();
    std::fflush(stdout);
    return kResultRefused;
  }
  // Only method 4 keeps the pose at the keyframes themselves; a fold
  // splits nothing.
  if (!gSettings.checkMode && gSettings.keepMotion > 0 && !gSettings.unfoldTwist && gSettings.subMode != 4) {
    // "Keep.motion はモード 4 か 12 でのみ使えます. \n"
    return refuseOptions("Keep.motion \x82\xCD\x83\x82\x81\x5B\x83\x68 4 \x82\xA9 12 "
                         "\x82\xC5\x82\xCC\x82\xDD\x8E\x67\x82\xA6\x82\xDC\x82\xB7. \n",
                         "Keep.motion needs mode 4 or 12. \n");
  }
  // A fold leaves no twist bone keyframe to move the wrist's twist onto.
  if (!gSettings.checkMode && gSettings.wristTwist && gSettings.unfoldTwist) {
    // "Wrist.twist は Unfold.twist と一緒に使えません. \n"
    return refuseOptions("Wrist.twist \x82\xCD Unfold.twist \x82\xC6\x88\xEA\x8F\x8F\x82\xC9"
                         "\x8E\x67\x82\xA6\x82\xDC\x82\xB9\x82\xF1. \n",
                         "Wrist.twist cannot be used with Unfold.twist. \n");
  }
  // Without a motion or a pose the run asks for one; -ND, which never
  // waits, shows how to give one instead.
  if (firstFileToken() == 0) {
    gDialogPath[0] = '\0';
    bool chosen = !gSettings.noDialog && openFileDialog(gDialogPath, kDialogMotion, gProgramDir) == 0;
    if (chosen) {
      const int before = gArgs.argCount;
      addArgToken(&gArgs, gDialogPath);
      chosen = gArgs.argCount > before && rdProbe(gDialogPath) == 0;
      rdClose();
    }
    if (!chosen) {
      printUsage();
      std::fflush(stdout);
      return kResultOk;
    }
  }
  gSettings.handTwist = startUpHandTwist;
  gTotals = RunTotals{};
  gWrittenCount = 0;
  gInputCount = 0;
  gPoseNoted = false;
  for (int i = 1; i < gArgs.argCount; i++) {
    const char* token = gArgs.argItems[i];
    if (!isOptionToken(token) && !isModelToken(token) && plat::fileId(token, &gInputs[gInputCount]) == 0) gInputCount++;
  }
  gInputPath[0] = '\0';
  // A failure ends the run; a warning is kept for its end (the first one).
  int32_t warning = kResultOk;
  for (int i = 1; i < gArgs.argCount && result == kResultOk; i++) {
    const char* token = gArgs.argItems[i];
    if (isOptionToken(token)) {
      walkOptionToken(token, false);
    } else if (!isModelToken(token)) {
      result = processFile(token);
      if (isWarning(result)) {
        if (warning == kResultOk) warning = result;
        result = kResultOk;
      }
    }
  }
  if (result == kResultOk) result = warning;

  reportResult(result);
  std::fflush(stdout);
  showRunSummary(gInputPath);
  std::fflush(stdout);
  return result;
}

}  // namespace torsel
