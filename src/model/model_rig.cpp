#include "model/model_rig.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "arm/bone_names.h"
#include "math/rotation.h"

namespace torsel {
namespace {

struct Message {
  const char* ja;
  const char* en;
};

// Each fault: what is wrong, what it does to the motion, what to do.
constexpr Message kFaults[] = {
    // "モデルの警告: %s がありません。%s の捩りが関節に残ってそこで肌がねじれ、%s を変換する実行ではこのモ
    // デルは使えません。PMXEditor で捩りボーンを追加してください。 \n"
    {"\x83\x82\x83\x66\x83\x8B\x82\xCC\x8C\x78\x8D\x90: %s \x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9"
     "\x82\xF1\x81\x42%s \x82\xCC\x9D\x80\x82\xE8\x82\xAA\x8A\xD6\x90\xDF\x82\xC9\x8E\x63\x82\xC1"
     "\x82\xC4\x82\xBB\x82\xB1\x82\xC5\x94\xA7\x82\xAA\x82\xCB\x82\xB6\x82\xEA\x81\x41%s \x82\xF0"
     "\x95\xCF\x8A\xB7\x82\xB7\x82\xE9\x8E\xC0\x8D\x73\x82\xC5\x82\xCD\x82\xB1\x82\xCC\x83\x82\x83\x66"
     "\x83\x8B\x82\xCD\x8E\x67\x82\xA6\x82\xDC\x82\xB9\x82\xF1\x81\x42PMXEditor \x82\xC5\x9D\x80"
     "\x82\xE8\x83\x7B\x81\x5B\x83\x93\x82\xF0\x92\xC7\x89\xC1\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3"
     "\x82\xA2\x81\x42 \n",
     "Model warning: %s is missing: the twist of %s stays in the joint, where the skin wrings, and a run "
     "that converts %s refuses this model. Add the twist bone in PMXEditor. \n"},
    // "モデルの警告: %s: 固定軸が%sの向き (%s → %s) から %.1f° ずれています。捩りで%sが長さの向きから外
    // れて回ります。PMXEditor で固定軸を直してください。 \n"
    {"\x83\x82\x83\x66\x83\x8B\x82\xCC\x8C\x78\x8D\x90: %s: \x8C\xC5\x92\xE8\x8E\xB2\x82\xAA%s\x82\xCC"
     "\x8C\xFC\x82\xAB (%s \x81\xA8 %s) \x82\xA9\x82\xE7 %.1f\x81\x8B \x82\xB8\x82\xEA\x82\xC4\x82\xA2"
     "\x82\xDC\x82\xB7\x81\x42\x9D\x80\x82\xE8\x82\xC5%s\x82\xAA\x92\xB7\x82\xB3\x82\xCC\x8C\xFC"
     "\x82\xAB\x82\xA9\x82\xE7\x8A\x4F\x82\xEA\x82\xC4\x89\xF1\x82\xE8\x82\xDC\x82\xB7\x81\x42PMXEditor "
     "\x82\xC5\x8C\xC5\x92\xE8\x8E\xB2\x82\xF0\x92\xBC\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3"
     "\x82\xA2\x81\x42 \n",
     "Model warning: %s: fixed axis off the %s (%s -> %s) by %.1f deg; the twist will turn the %s off its "
     "length. Fix the axis in PMXEditor. \n"},
    // "モデルの警告: %s が %s の子になっていません。%sの動きに付いていかず、その下のボーンも付いていきませ
    // ん。PMXEditor で親を %s にしてください。 \n"
    {"\x83\x82\x83\x66\x83\x8B\x82\xCC\x8C\x78\x8D\x90: %s \x82\xAA %s \x82\xCC\x8E\x71\x82\xC9"
     "\x82\xC8\x82\xC1\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\x81\x42%s\x82\xCC\x93\xAE\x82\xAB"
     "\x82\xC9\x95\x74\x82\xA2\x82\xC4\x82\xA2\x82\xA9\x82\xB8\x81\x41\x82\xBB\x82\xCC\x89\xBA\x82\xCC"
     "\x83\x7B\x81\x5B\x83\x93\x82\xE0\x95\x74\x82\xA2\x82\xC4\x82\xA2\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
     "\x81\x42PMXEditor \x82\xC5\x90\x65\x82\xF0 %s \x82\xC9\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3"
     "\x82\xA2\x81\x42 \n",
     "Model warning: %s does not hang from %s: it does not follow the %s, nor does anything below it. "
     "Make %s its parent in PMXEditor. \n"},
    // "モデルの警告: %s が %s の下にありません。%s に移した捩りで %s が回らず、変換したモーションでは捩り
    // が消えます。PMXEditor で %s を %s の親にしてください。 \n"
    {"\x83\x82\x83\x66\x83\x8B\x82\xCC\x8C\x78\x8D\x90: %s \x82\xAA %s \x82\xCC\x89\xBA\x82\xC9"
     "\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42%s \x82\xC9\x88\xDA\x82\xB5\x82\xBD\x9D\x80"
     "\x82\xE8\x82\xC5 %s \x82\xAA\x89\xF1\x82\xE7\x82\xB8\x81\x41\x95\xCF\x8A\xB7\x82\xB5\x82\xBD"
     "\x83\x82\x81\x5B\x83\x56\x83\x87\x83\x93\x82\xC5\x82\xCD\x9D\x80\x82\xE8\x82\xAA\x8F\xC1\x82\xA6"
     "\x82\xDC\x82\xB7\x81\x42PMXEditor \x82\xC5 %s \x82\xF0 %s \x82\xCC\x90\x65\x82\xC9\x82\xB5"
     "\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42 \n",
     "Model warning: %s does not hang from %s: the twist moved onto %s does not turn %s, and the converted "
     "motion loses it. Make %s the parent of %s in PMXEditor. \n"},
    // "モデルの警告: %s が %s と %s の間にありません。捩りがボーンの線から外れた点を中心に回り、%s の位置
    // がずれます。PMXEditor で %s と %s を結ぶ線の上に移してください。 \n"
    {"\x83\x82\x83\x66\x83\x8B\x82\xCC\x8C\x78\x8D\x90: %s \x82\xAA %s \x82\xC6 %s \x82\xCC\x8A\xD4"
     "\x82\xC9\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42\x9D\x80\x82\xE8\x82\xAA\x83\x7B\x81\x5B"
     "\x83\x93\x82\xCC\x90\xFC\x82\xA9\x82\xE7\x8A\x4F\x82\xEA\x82\xBD\x93\x5F\x82\xF0\x92\x86\x90\x53"
     "\x82\xC9\x89\xF1\x82\xE8\x81\x41%s \x82\xCC\x88\xCA\x92\x75\x82\xAA\x82\xB8\x82\xEA\x82\xDC"
     "\x82\xB7\x81\x42PMXEditor \x82\xC5 %s \x82\xC6 %s \x82\xF0\x8C\x8B\x82\xD4\x90\xFC\x82\xCC"
     "\x8F\xE3\x82\xC9\x88\xDA\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42 \n",
     "Model warning: %s does not lie between %s and %s: its twist turns about a point off the bone and "
     "moves %s out of place. Move it onto the line from %s to %s in PMXEditor. \n"},
    // "モデルの警告: %s が %s の回転を受け取っていません (付与親 %s、付与率 0 より大)。%s が捩れてもそこに
    // 重みのある肌が残ってねじれます。PMXEditor で回転付与を設定してください。 \n"
    {"\x83\x82\x83\x66\x83\x8B\x82\xCC\x8C\x78\x8D\x90: %s \x82\xAA %s \x82\xCC\x89\xF1\x93\x5D"
     "\x82\xF0\x8E\xF3\x82\xAF\x8E\xE6\x82\xC1\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1 (\x95\x74"
     "\x97\x5E\x90\x65 %s\x81\x41\x95\x74\x97\x5E\x97\xA6 0 \x82\xE6\x82\xE8\x91\xE5)\x81\x42%s "
     "\x82\xAA\x9D\x80\x82\xEA\x82\xC4\x82\xE0\x82\xBB\x82\xB1\x82\xC9\x8F\x64\x82\xDD\x82\xCC\x82\xA0"
     "\x82\xE9\x94\xA7\x82\xAA\x8E\x63\x82\xC1\x82\xC4\x82\xCB\x82\xB6\x82\xEA\x82\xDC\x82\xB7\x81\x42"
     "PMXEditor \x82\xC5\x89\xF1\x93\x5D\x95\x74\x97\x5E\x82\xF0\x90\xDD\x92\xE8\x82\xB5\x82\xC4"
     "\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42 \n",
     "Model warning: %s does not take its share of %s's turn (append rotation from %s, ratio above 0): the "
     "skin weighted to it stays behind when %s twists, and wrings there. Set its append in PMXEditor. \n"},
};
// "     補助 %s: 付与 %s × %g \n"
constexpr Message kHelperFollows = {
    "     \x95\xE2\x8F\x95 %s: \x95\x74\x97\x5E %s \x81\x7E %g \n",
    "     helper %s: append %s x %g \n"};
// "     補助 %s: 付与なし \n"
constexpr Message kHelperAlone = {
    "     \x95\xE2\x8F\x95 %s: \x95\x74\x97\x5E\x82\xC8\x82\xB5 \n",
    "     helper %s: no append \n"};
// "別のボーン"
constexpr Message kAnotherBone = {"\x95\xCA\x82\xCC\x83\x7B\x81\x5B\x83\x93", "another bone"};
// "     捩り %s: 固定軸のずれ %.1f° (%s → %s) \n"
constexpr Message kTwistAngle = {
    "     \x9D\x80\x82\xE8 %s: \x8C\xC5\x92\xE8\x8E\xB2\x82\xCC\x82\xB8\x82\xEA %.1f\x81\x8B (%s \x81\xA8 %s) \n",
    "     twist %s: fixed axis %.1f deg off %s -> %s \n"};
// "     捩り %s: 固定軸あり \n"
constexpr Message kTwistFixed = {
    "     \x9D\x80\x82\xE8 %s: \x8C\xC5\x92\xE8\x8E\xB2\x82\xA0\x82\xE8 \n",
    "     twist %s: fixed axis \n"};
// "     捩り %s: 固定軸なし \n"
constexpr Message kTwistFree = {
    "     \x9D\x80\x82\xE8 %s: \x8C\xC5\x92\xE8\x8E\xB2\x82\xC8\x82\xB5 \n",
    "     twist %s: no fixed axis \n"};
// "モデルチェック: 腕まわりの警告は %d 件です. \n"
constexpr Message kVerdict = {
    "\x83\x82\x83\x66\x83\x8B\x83\x60\x83\x46\x83\x62\x83\x4E: \x98\x72\x82\xDC\x82\xED\x82\xE8\x82\xCC\x8C\x78\x8D\x90"
    "\x82\xCD %d \x8C\x8F\x82\xC5\x82\xB7. \n",
    "Model check: %d warning(s) for the arm group. \n"};
// "腕"
constexpr Message kArm = {"\x98\x72", "arm"};
// "ひじから先"
constexpr Message kForearm = {"\x82\xD0\x82\xB6\x82\xA9\x82\xE7\x90\xE6", "forearm"};

const char* say(const Message& m) { return plat::say(m.ja, m.en); }

// A pair's bones and its part of the arm, ready for the console and kept
// apart from the converter's few buffers.
struct PairNames {
  char limb[64], twist[64], next[64], part[64];
};

PairNames namesOf(int pair) {
  const int side = pair / 2;
  const bool elbow = pair % 2 == 1;
  PairNames n;
  std::snprintf(n.limb, sizeof n.limb, "%s", plat::conText(sjisName(side, elbow ? BoneRole::Elbow : BoneRole::Arm)));
  std::snprintf(n.twist, sizeof n.twist, "%s",
                plat::conText(sjisName(side, elbow ? BoneRole::HandTwist : BoneRole::ArmTwist)));
  std::snprintf(n.next, sizeof n.next, "%s", plat::conText(sjisName(side, elbow ? BoneRole::Wrist : BoneRole::Elbow)));
  std::snprintf(n.part, sizeof n.part, "%s", say(elbow ? kForearm : kArm));
  return n;
}

// A helper's name: the twist bone's it begins with, then the rest in the model's encoding.
void helperName(const ModelAxes& m, const RigHelper& h, char* out, size_t size) {
  const PairNames n = namesOf(h.namedFor >= 0 ? h.namedFor : 0);  // first: it takes the console's buffers
  char rest[sizeof h.name + 1];
  std::memcpy(rest, h.name, static_cast<size_t>(h.nameLen));
  rest[h.nameLen] = '\0';
  const char* shown = m.encoding == NameEncoding::Utf16  ? plat::conFromUtf16(h.name, h.nameLen & ~1)
                      : m.encoding == NameEncoding::Utf8 ? plat::conFromUtf8(rest)
                                                         : plat::conText(rest);
  std::snprintf(out, size, "%s%s", h.namedFor >= 0 ? n.twist : "", shown);
}

struct D3 {
  double x, y, z;
};
D3 minus(const Vec3& a, const Vec3& b) { return {double(a.x) - b.x, double(a.y) - b.y, double(a.z) - b.z}; }
double dot(const D3& a, const D3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// The angle in degrees between two lines, 0 to 90: half the turn between
// the half turns about them, by the series every platform computes alike.
double lineAngle(const D3& a, const D3& b) {
  return angleBetween(unit(DQuat{a.x, a.y, a.z, 0}), unit(DQuat{b.x, b.y, b.z, 0})) / 2;
}

// The faults of one pair's bones, after what it found so far.
void judgePair(const ModelAxes& m, int i, bool fold, RigReport* out) {
  auto fault = [&](RigFault f, double angle = 0) {
    out->findings[out->count++] = RigFinding{.fault = f, .pair = static_cast<int8_t>(i), .helper = -1, .angle = angle};
  };
  if (!m.hasSource[i]) return;
  if (!m.hasTwist[i]) {
    if (!fold) fault(RigFault::MissingTwist);
    return;
  }
  const PairRig& rig = m.rig[i];
  const D3 limb = minus(rig.nextPos, rig.limbPos);
  const double length2 = dot(limb, limb);
  if (m.hasNext[i] && length2 > 0 && std::isfinite(length2)) {
    if (m.fixed[i] && m.found[i]) {
      const Vec3& a = m.axis[i];
      out->axisAngle[i] = lineAngle({a.x, a.y, a.z}, limb);
      if (out->axisAngle[i] > kRigAxisToleranceDeg) fault(RigFault::AxisOff, out->axisAngle[i]);
    }
    // Its distance from the nearest point between the limb and the next joint.
    const D3 v = minus(rig.twistPos, rig.limbPos);
    const double t = std::fmin(std::fmax(dot(v, limb) / length2, 0.0), 1.0);
    const D3 off = {v.x - t * limb.x, v.y - t * limb.y, v.z - t * limb.z};
    if (dot(off, off) > kRigPlaceTolerance * kRigPlaceTolerance * length2) fault(RigFault::OutOfPlace);
  }
  if (rig.twistUnderLimb == 0) fault(RigFault::TwistOffLimb);
  if (m.hasNext[i] && rig.nextUnderTwist == 0) fault(RigFault::NextOffTwist);
}

void printFinding(const ModelAxes& m, const RigFinding& f) {
  char helper[160] = "";
  if (f.helper >= 0) helperName(m, m.helpers[f.helper], helper, sizeof helper);
  const PairNames n = namesOf(f.pair);
  const char* text = say(kFaults[static_cast<int>(f.fault)]);  // last: the console's buffers are few
  switch (f.fault) {
    case RigFault::MissingTwist: std::printf(text, n.twist, n.limb, n.limb); break;
    case RigFault::AxisOff: std::printf(text, n.twist, n.part, n.limb, n.next, f.angle, n.part); break;
    case RigFault::TwistOffLimb: std::printf(text, n.twist, n.limb, n.part, n.limb); break;
    case RigFault::NextOffTwist: std::printf(text, n.next, n.twist, n.twist, n.next, n.twist, n.next); break;
    case RigFault::OutOfPlace: std::printf(text, n.twist, n.limb, n.next, n.next, n.limb, n.next); break;
    case RigFault::HelperAdrift: std::printf(text, helper, n.twist, n.twist, n.twist); break;
  }
}

// Each twist bone's axis, for a model checked alone.
void printTwists(const ModelAxes& m, const RigReport& r) {
  for (int i = 0; i < kPairCount; i++) {
    if (!m.hasTwist[i]) continue;
    const PairNames n = namesOf(i);
    if (r.axisAngle[i] >= 0) {
      std::printf(say(kTwistAngle), n.twist, r.axisAngle[i], n.limb, n.next);
    } else {
      std::printf(say(m.fixed[i] ? kTwistFixed : kTwistFree), n.twist);
    }
  }
}

void printHelpers(const ModelAxes& m) {
  for (int h = 0; h < m.helperCount; h++) {
    const RigHelper& helper = m.helpers[h];
    char name[160], target[64];
    helperName(m, helper, name, sizeof name);
    if (!helper.appends) {
      std::printf(say(kHelperAlone), name);
      continue;
    }
    std::snprintf(target, sizeof target, "%s",
                  helper.follows >= 0 ? namesOf(helper.follows).twist : say(kAnotherBone));
    std::printf(say(kHelperFollows), name, target, static_cast<double>(helper.ratio));
  }
}

}  // namespace

void judgeRig(const ModelAxes& m, bool fold, RigReport* out) {
  out->count = 0;
  for (double& a : out->axisAngle) a = -1;
  for (int i = 0; i < kPairCount; i++) judgePair(m, i, fold, out);
  // A helper named for a twist bone (腕捩1 to 3) must take a share of its turn.
  for (int h = 0; h < m.helperCount; h++) {
    const RigHelper& helper = m.helpers[h];
    if (helper.number == 0 || (helper.follows == helper.namedFor && helper.ratio > 0 && std::isfinite(helper.ratio))) {
      continue;
    }
    out->findings[out->count++] = RigFinding{
        .fault = RigFault::HelperAdrift, .pair = helper.namedFor, .helper = static_cast<int8_t>(h), .angle = 0};
  }
}

void reportRig(const ModelAxes& m, bool fold, bool listing, bool alone) {
  RigReport r;
  judgeRig(m, fold, &r);
  if (alone) printTwists(m, r);
  if (listing || alone) printHelpers(m);
  for (int k = 0; k < r.count; k++) printFinding(m, r.findings[k]);
  if (alone) std::printf(say(kVerdict), r.count);
}

}  // namespace torsel
