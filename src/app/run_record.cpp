#include "app/run_record.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "arm/bone_names.h"
#include "arm/bone_pairs.h"
#include "pass/pair_keyframe.h"
#include "playback/plan_options.h"
#include "result/result_codes.h"
#include "run/run_settings.h"
#include "vmd/planned.h"
#include "vmd/thinned.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

namespace torsel {
namespace {

constexpr int kMaxFiles = 511;  // the arguments a run takes

struct ChainEntry {
  int limb;  // its arm-group bone
  bool within;
  double worst;
  uint32_t at;
  double misread;  // how far the players that bisect the curve show the input from MMD at `at`
};

struct FileRecord {
  bool pose, converted;
  int32_t result;
  FileRefusal refusal;
  bool active[kPairCount];
  int32_t counted[kPairCount], convertedKeys[kPairCount], strays[kPairCount];
  ChainEntry chains[kArmSides * kChains];
  int chainCount;
  bool thinned;  // -S: what the thinning said
  ThinSaid thin;
};

struct RunRecord {
  FileRecord files[kMaxFiles];
  int fileCount;
  FileRefusal refusal;  // of the file under way
  bool modelRefused, noDirection;
  char modelReason[256];
  const char* modelBone;  // Shift-JIS, or null
  double echoes[2];
};

RunRecord gRecord;

#ifdef __EMSCRIPTEN__
// The bytes the program has put on the console so far, as the page's module counts them.
EM_JS(double, consoleBytes, (), { return Module['consoleBytes'] ? Module['consoleBytes']() : -1; });
#else
double consoleBytes() { return -1; }
#endif

}  // namespace

void recordRunStart() {
  // Field by field: the whole record is too large for a temporary on a WebAssembly stack.
  gRecord.fileCount = 0;
  gRecord.refusal = FileRefusal::None;
  gRecord.modelRefused = false;
  gRecord.echoes[0] = gRecord.echoes[1] = -1;
}

void recordEchoes(bool begin) {
  std::fflush(stdout);
  gRecord.echoes[begin ? 0 : 1] = consoleBytes();
}

void recordModelRefused(const char* reason, const char* bone, bool noDirection) {
  gRecord.modelRefused = true;
  std::snprintf(gRecord.modelReason, sizeof gRecord.modelReason, "%s", reason);
  gRecord.modelBone = bone;
  gRecord.noDirection = noDirection;
}

void recordRefusal(FileRefusal why) { gRecord.refusal = why; }

void recordFile(bool pose, int32_t result) {
  if (gRecord.fileCount == kMaxFiles) return;
  FileRecord& f = gRecord.files[gRecord.fileCount++];
  f = FileRecord{};
  f.pose = pose, f.result = result, f.refusal = gRecord.refusal;
  gRecord.refusal = FileRefusal::None;
  f.converted = !gSettings.checkMode && (result == kResultOk || isWarning(result));
  if (!f.converted) return;
  for (int i = 0; i < kPairCount; i++) {
    f.active[i] = pairIsActive(i, gSettings);
    f.counted[i] = gScans[i].reccnt, f.convertedKeys[i] = pairConverted(i), f.strays[i] = pairStrays(i);
  }
  if (const ThinSaid* t = pose ? nullptr : thinnedSaid()) f.thinned = true, f.thin = *t;
  if (pose || !planningPairs()) return;  // no plan: no chain judged
  for (int side = 0; side < kArmSides; side++) {
    for (int c = 0; c < kChains; c++) {
      int limb = 0;
      if (const ChainReport* r = plannedChain(side, c, &limb)) {
        f.chains[f.chainCount++] = {limb, !r->beyond, r->worst, r->at, r->misread};
      }
    }
  }
}

#ifdef __EMSCRIPTEN__
namespace {

// A known bone's name in UTF-8, from its Shift-JIS bytes; "" for any other.
std::string_view utf8Of(const char* sjis) {
  const KnownBone k = sjis != nullptr ? knownBone(sjis) : KnownBone{};
  return k.role == BoneRole::None ? std::string_view{} : boneName(k.side, k.role).utf8;
}

std::string_view groupBoneUtf8(int bone) {
  return boneName(bone / kArmBones, static_cast<BoneRole>(bone % kArmBones)).utf8;
}

// A JSON string of ASCII or UTF-8 text.
void putString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  out += '"';
}

void putNumber(std::string& out, double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", v);
  out += v == v ? buffer : "null";  // NaN is no JSON number
}

void putFile(std::string& out, const FileRecord& f) {
  out += "{\"status\":" + std::to_string(f.result) + ",\"pose\":" + (f.pose ? "true" : "false");
  out += ",\"refusal\":";
  out += f.refusal == FileRefusal::Path ? "\"path\"" : f.refusal == FileRefusal::Output ? "\"output\"" : "null";
  out += ",\"pairs\":[";
  bool first = true;
  for (int i = 0; i < kPairCount && f.converted; i++) {
    if (!f.active[i]) continue;
    out += first ? "{\"bone\":" : ",{\"bone\":";
    first = false;
    putString(out, utf8Of(kPairs[i].sourceBone));
    out += ",\"twistBone\":";
    putString(out, utf8Of(kPairs[i].twistBone));
    out += ",\"counted\":" + std::to_string(f.counted[i]) + ",\"converted\":" + std::to_string(f.convertedKeys[i]) +
           ",\"keyedAlready\":" + std::to_string(f.strays[i]) + "}";
  }
  out += "],\"chains\":[";
  for (int c = 0; c < f.chainCount; c++) {
    const ChainEntry& e = f.chains[c];
    out += c ? ",{\"bone\":" : "{\"bone\":";
    putString(out, groupBoneUtf8(e.limb));
    out += std::string(",\"within\":") + (e.within ? "true" : "false") + ",\"worst\":";
    putNumber(out, e.worst);
    out += ",\"frame\":" + std::to_string(e.at) + ",\"misread\":";
    putNumber(out, e.misread);
    out += '}';
  }
  out += "],\"thin\":";
  if (!f.thinned) {
    out += "null}";
    return;
  }
  out += "{\"in\":" + std::to_string(f.thin.in) + ",\"out\":" + std::to_string(f.thin.out) + ",\"worst\":";
  putNumber(out, f.thin.worst);
  out += ",\"farthest\":";
  putNumber(out, f.thin.farthest);
  out += ",\"beyond\":" + std::to_string(f.thin.beyond) + "}}";
}

}  // namespace

/// The run just ended, as JSON (UTF-8): the page's one source of what a
/// run did. Valid until the next call.
extern "C" EMSCRIPTEN_KEEPALIVE const char* torselRunRecord() {
  static std::string out;
  out = "{\"files\":[";
  for (int i = 0; i < gRecord.fileCount; i++) {
    if (i) out += ',';
    putFile(out, gRecord.files[i]);
  }
  out += "],\"model\":";
  if (gRecord.modelRefused) {
    out += "{\"reason\":";
    putString(out, gRecord.modelReason);
    out += ",\"bone\":";
    putString(out, utf8Of(gRecord.modelBone));
    out += std::string(",\"noDirection\":") + (gRecord.noDirection ? "true" : "false") + "}";
  } else {
    out += "null";
  }
  out += ",\"echoes\":[";
  putNumber(out, gRecord.echoes[0]);
  out += ',';
  putNumber(out, gRecord.echoes[1]);
  out += "]}";
  return out.c_str();
}
#endif

}  // namespace torsel
