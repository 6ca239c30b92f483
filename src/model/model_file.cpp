#include "model/model_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "arm/bone_names.h"
#include "io/byte_stream.h"
#include "io/path_util.h"
#include "model/model_read.h"
#include "platform/platform.h"

namespace torsel {
namespace {

using namespace modelread;

bool finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void resolvePairs(ModelAxes* out) {
  for (int i = 0; i < kPairCount; i++) {
    const FoundBone& twist = gBones[kPairBones[i].twist];
    const FoundBone& source = gBones[kPairBones[i].source];
    const FoundBone& next = gBones[kPairBones[i].next];
    out->hasSource[i] = source.present;
    out->hasTwist[i] = twist.present;
    out->hasNext[i] = next.present;
    // A limb bone with a fixed axis of its own is turned onto it too.
    if (source.hasFixedAxis && finite(source.fixedAxis) && std::isfinite(vecLength(source.fixedAxis)) &&
        vecLength(source.fixedAxis) != 0.0f) {
      out->sourceFixed[i] = true;
      out->sourceAxis[i] = source.fixedAxis;
    }
    Vec3 axis;
    if (twist.present && twist.hasFixedAxis) {
      axis = twist.fixedAxis;
      out->fixed[i] = true;
    } else if (source.present && next.present) {
      axis = {subF(next.pos.x, source.pos.x), subF(next.pos.y, source.pos.y), subF(next.pos.z, source.pos.z)};
    } else {
      continue;
    }
    // Every use divides by the length: it must be a float, and not zero.
    const float length = finite(axis) ? vecLength(axis) : 0.0f;
    if (!std::isfinite(length) || length == 0.0f) {
      out->noDirection[i] = true;
      continue;
    }
    if (axis.x < 0.0f) axis = {-axis.x, -axis.y, -axis.z};
    out->axis[i] = axis;
    out->found[i] = true;
  }
}

// The chains and places of each pair's bones, and which twist bone each
// helper appends; a bone noted as a helper that neither appends a twist
// bone nor is named for one is none.
void resolveRig(ModelAxes* out) {
  for (int i = 0; i < kPairCount; i++) {
    const FoundBone& limb = gBones[kPairBones[i].source];
    const FoundBone& twist = gBones[kPairBones[i].twist];
    const FoundBone& next = gBones[kPairBones[i].next];
    const int8_t unknown = -1;
    const bool chained = limb.present && twist.present, hung = twist.present && next.present;
    out->rig[i] = PairRig{.limbPos = limb.pos,
                          .twistPos = twist.pos,
                          .nextPos = next.pos,
                          .twistUnderLimb = chained ? isAncestor(limb.index, twist.index) : unknown,
                          .nextUnderTwist = hung ? isAncestor(twist.index, next.index) : unknown};
  }
  int kept = 0;
  for (int h = 0; h < out->helperCount; h++) {
    RigHelper helper = out->helpers[h];
    for (int i = 0; i < kPairCount && helper.appends; i++) {
      const FoundBone& twist = gBones[kPairBones[i].twist];
      if (twist.present && twist.index == helper.appendParent) helper.follows = static_cast<int8_t>(i);
    }
    if (helper.follows >= 0 || helper.namedFor >= 0) out->helpers[kept++] = helper;
  }
  out->helperCount = kept;
}

}  // namespace

const char* missingBone(const ModelAxes& m, const bool pairs[kPairCount], bool fold, bool wrists) {
  for (int i = 0; i < kPairCount; i++) {
    const bool wrist = wrists && i % 2 == 1;  // the elbow pair of a side
    if (!pairs[i] && !wrist) continue;
    const bool axis = !fold || wrist;
    const auto& bones = kPairBones[i];
    if (!m.hasSource[i]) return nameOf(bones.source).sjis.data();
    if (axis && !m.hasTwist[i]) return nameOf(bones.twist).sjis.data();
    if ((wrist || (axis && !m.fixed[i])) && !m.hasNext[i]) return nameOf(bones.next).sjis.data();
  }
  return nullptr;
}

bool isModelPath(const char* path) {
  char ext[plat::kPathMax];
  if (std::strlen(path) >= sizeof ext) return false;
  pathExtPart(ext, path);
  return (prefixMatchNoCase(ext, ".PMX") == 0 || prefixMatchNoCase(ext, ".PMD") == 0) && std::strlen(ext) == 4;
}

int readModelAxes(const char* path, ModelAxes* out, char* reason, int reasonSize) {
  *out = ModelAxes{};
  if (rdOpen(path) != 0) {
    std::snprintf(reason, static_cast<size_t>(reasonSize), "cannot be opened");
    return -1;
  }
  // The stream counts in 32 bits; no model comes near 2 GiB.
  const int64_t size = rdSize();
  beginModel(size > 0x7FFFFFFF ? -1 : size);
  uint8_t magic[4] = {};
  readBytes(magic, 3);
  if (size < 0 || size > 0x7FFFFFFF || bad()) {
    beginModel(-1);
    magic[0] = 0;  // too short or no regular file: no model
  }
  if (std::memcmp(magic, "PMX", 3) == 0) {
    readBytes(magic + 3, 1);
    if (magic[3] == ' ') {
      readPmx(out);
    } else {
      magic[0] = 0;
    }
  } else if (std::memcmp(magic, "Pmd", 3) == 0) {
    readPmd(out);
  }
  const bool known = magic[0] == 'P';
  const bool failed = rdHasFailed() != 0;
  rdClose();
  if (!known) {
    std::snprintf(reason, static_cast<size_t>(reasonSize), "not a PMX or PMD model");
    return -1;
  }
  if (bad() || failed) {
    std::snprintf(reason, static_cast<size_t>(reasonSize), "cut short or damaged");
    return -1;
  }
  resolvePairs(out);
  resolveRig(out);
  return 0;
}

}  // namespace torsel
