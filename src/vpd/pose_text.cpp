#include "vpd/pose_text.h"

#include <bit>
#include <cfloat>
#include <cstdio>
#include <cstring>

#include "io/byte_stream.h"
#include "platform/platform.h"
#include "result/result_codes.h"

namespace torsel {

PoseText gPose;

namespace {

enum class Why {
  NotText, TooLarge, Header, ModelLine, Count, BlockStart, NoName,
  Number, Numbers, NoBrace, AfterBrace, CountDiffers, ZeroRotation, TooManyBlocks, OutputBeyond
};

constexpr const char* kEnglish[] = {
    "not Shift-JIS text",
    "larger than 1114112 bytes",
    "no \"Vocaloid Pose Data file\" line",
    "the model line has no ';'",
    "no bone count ended by ';'",
    "expected a Bone or Morph block",
    "a block without a name",
    "a number that does not parse or is beyond a float",
    "expected %ld numbers separated by ',' and ended by ';'",
    "a block without its closing brace",
    "text after the closing brace",
    "the count says %ld bones, the blocks are %ld",
    "a rotation of length zero",
    "more than 16392 blocks",
    "converted, it would pass 1114112 bytes, 16392 blocks or indices of 10 digits",
};

constexpr const char* kJapanese[] = {
    // Shift-JIS のテキストではありません
    "Shift-JIS \x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1",
    // 1114112 バイトより大きいファイルです
    "1114112 \x83\x6F\x83\x43\x83\x67\x82\xE6\x82\xE8\x91\xE5\x82\xAB\x82\xA2\x83\x74\x83\x40\x83\x43\x83\x8B"
    "\x82\xC5\x82\xB7",
    // "Vocaloid Pose Data file" の行がありません
    "\"Vocaloid Pose Data file\" \x82\xCC\x8D\x73\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1",
    // モデル名の行に ';' がありません
    "\x83\x82\x83\x66\x83\x8B\x96\xBC\x82\xCC\x8D\x73\x82\xC9 ';' \x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1",
    // ';' で終わるボーン数がありません
    "';' \x82\xC5\x8F\x49\x82\xED\x82\xE9\x83\x7B\x81\x5B\x83\x93\x90\x94\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9"
    "\x82\xF1",
    // Bone か Morph のブロックがありません
    "Bone \x82\xA9 Morph \x82\xCC\x83\x75\x83\x8D\x83\x62\x83\x4E\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1",
    // 名前のないブロックです
    "\x96\xBC\x91\x4F\x82\xCC\x82\xC8\x82\xA2\x83\x75\x83\x8D\x83\x62\x83\x4E\x82\xC5\x82\xB7",
    // 読めないか float に収まらない数です
    "\x93\xC7\x82\xDF\x82\xC8\x82\xA2\x82\xA9 float \x82\xC9\x8E\xFB\x82\xDC\x82\xE7\x82\xC8\x82\xA2\x90\x94\x82\xC5"
    "\x82\xB7",
    // ',' で区切り ';' で終わる %ld 個の数がありません
    "',' \x82\xC5\x8B\xE6\x90\xD8\x82\xE8 ';' \x82\xC5\x8F\x49\x82\xED\x82\xE9 %ld \x8C\xC2\x82\xCC\x90\x94\x82\xAA"
    "\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1",
    // ブロックを閉じる '}' がありません
    "\x83\x75\x83\x8D\x83\x62\x83\x4E\x82\xF0\x95\xC2\x82\xB6\x82\xE9 '}' \x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9"
    "\x82\xF1",
    // '}' の後に文字があります
    "'}' \x82\xCC\x8C\xE3\x82\xC9\x95\xB6\x8E\x9A\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7",
    // ボーン数 %ld のはずがボーンのブロックは %ld 個です
    "\x83\x7B\x81\x5B\x83\x93\x90\x94 %ld \x82\xCC\x82\xCD\x82\xB8\x82\xAA\x83\x7B\x81\x5B\x83\x93\x82\xCC\x83\x75"
    "\x83\x8D\x83\x62\x83\x4E\x82\xCD %ld \x8C\xC2\x82\xC5\x82\xB7",
    // 長さ 0 の回転です
    "\x92\xB7\x82\xB3 0 \x82\xCC\x89\xF1\x93\x5D\x82\xC5\x82\xB7",
    // 16392 個より多いブロックです
    "16392 \x8C\xC2\x82\xE6\x82\xE8\x91\xBD\x82\xA2\x83\x75\x83\x8D\x83\x62\x83\x4E\x82\xC5\x82\xB7",
    // 変換すると 1114112 バイト、16392 ブロックか 10 桁の番号を超えます
    "\x95\xCF\x8A\xB7\x82\xB7\x82\xE9\x82\xC6 1114112 \x83\x6F\x83\x43\x83\x67\x81\x41""16392 "
    "\x83\x75\x83\x8D\x83\x62\x83\x4E\x82\xA9 10 \x8C\x85\x82\xCC\x94\xD4\x8D\x86\x82\xF0\x92\xB4\x82\xA6"
    "\x82\xDC\x82\xB7",
};
static_assert(sizeof kEnglish == sizeof kJapanese);
static_assert(kMaxPoseSize == 1114112 && kMaxPoseBlocks == 16392 && kMaxPoseIndexDigits == 10, "as the reasons say");

uint8_t byteAt(int32_t i) { return i < gPose.size ? gPose.text[i] : 0; }  // NUL is never pose text
bool isDigit(int32_t i) { return byteAt(i) >= '0' && byteAt(i) <= '9'; }
bool isLead(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool isTrail(uint8_t c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// The text from `at` to `end`, NUL-terminated, cut to `cap` bytes at a
// character's end.
void copyCut(int32_t at, int32_t end, char* out, int cap) {
  int32_t i = at;
  for (int32_t step = 1; i < end; i += step) {
    step = isLead(gPose.text[i]) && i + 1 < end && isTrail(gPose.text[i + 1]) ? 2 : 1;
    if (i + step - at >= cap) break;
  }
  std::memcpy(out, gPose.text + at, static_cast<size_t>(i - at));
  out[i - at] = '\0';
}

long lineOf(int32_t at) {
  long line = 1;
  for (int32_t i = 0; i < at && i < gPose.size; i++) line += gPose.text[i] == '\n';
  return line;
}

// The reason and where, in the user's language; the status of no pose.
int32_t refuse(Why why, int32_t at, long a = 0, long b = 0) {
  // "ポーズファイルの %ld 行目が不正です: ", "ポーズファイルが不正です: "
  constexpr char kAtLineJa[] = "\x83\x7C\x81\x5B\x83\x59\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC %ld \x8D\x73\x96\xDA"
                               "\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7: ";
  constexpr char kWholeJa[] = "\x83\x7C\x81\x5B\x83\x59\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x95\x73\x90\xB3\x82\xC5"
                              "\x82\xB7: ";
  if (why == Why::TooLarge || why == Why::OutputBeyond) {
    std::printf("%s", plat::say(kWholeJa, "Illegal pose file: "));
  } else {
    std::printf(plat::say(kAtLineJa, "Illegal pose file at line %ld: "), lineOf(at));
  }
  const int i = static_cast<int>(why);
  std::printf(plat::say(kJapanese[i], kEnglish[i]), a, b);
  std::printf(" \n");
  return kResultFormat;
}

int32_t skipBlanks(int32_t i) {
  while (byteAt(i) == ' ' || byteAt(i) == '\t') i++;
  return i;
}

int32_t lineEnd(int32_t i) {
  while (i < gPose.size && gPose.text[i] != '\n') i++;
  return i;
}

// White space, line ends and comments. Their text holds double-byte
// characters, but no trail byte is a line end.
int32_t skipSpace(int32_t i) {
  for (;;) {
    const uint8_t c = byteAt(i);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      i++;
    } else if (c == '/' && byteAt(i + 1) == '/') {
      i = lineEnd(i);
    } else {
      return i;
    }
  }
}

bool startsWith(int32_t i, const char* word) {
  const int32_t n = static_cast<int32_t>(std::strlen(word));
  return gPose.size - i >= n && std::memcmp(gPose.text + i, word, static_cast<size_t>(n)) == 0;
}

// A decimal as MMD writes it: a sign, digits, a point and digits. Every
// step is one IEEE rounding, so every platform reads the same float.
bool parseDecimal(int32_t* at, float* out) {
  constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr uint64_t kDigitsHeld = 100000000000000000ULL;  // digits beyond 17 change nothing a float shows
  int32_t i = *at;
  const bool negative = byteAt(i) == '-';
  if (byteAt(i) == '-' || byteAt(i) == '+') i++;
  uint64_t m = 0;
  int32_t scale = 0;
  bool digits = false;
  for (bool fraction = false;; i++) {
    if (byteAt(i) == '.' && !fraction) {
      fraction = true;
      continue;
    }
    if (!isDigit(i)) break;
    digits = true;
    if (m < kDigitsHeld) {
      m = m * 10 + (byteAt(i) - '0');
      scale -= fraction;
    } else {
      scale += !fraction;
    }
  }
  const uint8_t c = byteAt(i);
  if (!digits || !(c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r' || c == '\n' || i == gPose.size)) {
    return false;
  }
  double v = static_cast<double>(m);
  while (scale < 0 && v != 0) {
    const int32_t step = -scale < 22 ? -scale : 22;
    v /= kTens[step];
    scale += step;
  }
  while (scale > 0 && v <= FLT_MAX) {
    const int32_t step = scale < 22 ? scale : 22;
    v *= kTens[step];
    scale -= step;
  }
  const float f = static_cast<float>(v);
  if (!(f <= FLT_MAX)) return false;
  *out = negative ? -f : f;
  *at = i;
  return true;
}

// `count` numbers separated by ',' and ended by ';', blanks beside each,
// after any white space and comments. 0 with their values and span, or
// the status of no pose.
int32_t parseStatement(int32_t* at, int count, float* out, int32_t* first, int32_t* last) {
  int32_t i = skipSpace(*at);
  *first = i;
  for (int k = 0; k < count; k++) {
    i = skipBlanks(i);
    const uint8_t c = byteAt(i);
    if (c == ',' || c == ';' || c == '\r' || c == '\n' || i == gPose.size) return refuse(Why::Numbers, i, count);
    if (!parseDecimal(&i, &out[k])) return refuse(Why::Number, i);
    *last = i;
    i = skipBlanks(i);
    if (byteAt(i) != (k + 1 < count ? ',' : ';')) return refuse(Why::Numbers, i, count);
    i++;
  }
  *at = i;
  return kResultOk;
}

int32_t parseBlock(int32_t i, PoseBlock* b) {
  *b = PoseBlock{};
  b->at = i;
  if (startsWith(i, "Bone")) {
    i += 4;
  } else if (startsWith(i, "Morph")) {
    b->morph = true;
    i += 5;
  } else {
    return refuse(Why::BlockStart, i);
  }
  b->numberAt = i;
  while (isDigit(i)) i++;
  b->numberEnd = i;
  if (i == b->numberAt || i - b->numberAt > kMaxPoseIndexDigits || byteAt(i) != '{') {
    return refuse(Why::BlockStart, b->at);
  }
  b->nameAt = ++i;
  while (i < gPose.size && gPose.text[i] != '\r' && gPose.text[i] != '\n') i++;
  b->nameEnd = i;
  if (b->nameEnd == b->nameAt) return refuse(Why::NoName, b->at);

  float v[4] = {};
  if (parseStatement(&i, b->morph ? 1 : 3, v, &b->transAt, &b->transEnd) != 0) return kResultFormat;
  b->pos = {v[0], v[1], v[2]};
  b->rotAt = b->rotEnd = b->transEnd;
  if (!b->morph) {
    if (parseStatement(&i, 4, v, &b->rotAt, &b->rotEnd) != 0) return kResultFormat;
    b->rot = {v[0], v[1], v[2], v[3]};
    if (v[0] == 0 && v[1] == 0 && v[2] == 0 && v[3] == 0) return refuse(Why::ZeroRotation, b->rotAt);
  }
  i = skipSpace(i);
  if (byteAt(i) != '}') return refuse(Why::NoBrace, b->at);
  i = skipBlanks(i + 1);
  if (byteAt(i) == '/' && byteAt(i + 1) == '/') i = lineEnd(i);
  if (byteAt(i) == '\r' && byteAt(i + 1) == '\n') i++;
  if (i < gPose.size && gPose.text[i] != '\n') return refuse(Why::AfterBrace, i);
  b->end = i < gPose.size ? i + 1 : i;
  return kResultOk;
}

// After a lead byte: the end of a name cut inside its character, as MMD
// cuts long bone and model names (a line end, the model's ".osm" or ';').
bool endsCutName(int32_t i) {
  const uint8_t c = byteAt(i);
  return i == gPose.size || c == '\r' || c == '\n' || c == '.' || c == ';';
}

int32_t parsePose() {
  const int32_t n = gPose.size;
  for (int32_t i = 0; i < n; i++) {
    const uint8_t c = gPose.text[i];
    if (isLead(c) && i + 1 < n && isTrail(gPose.text[i + 1])) {
      i++;
    } else if (isLead(c) && endsCutName(i + 1)) {
      continue;  // kept as it stands
    } else if (!(c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c <= 0x7E) || (c >= 0xA1 && c <= 0xDF))) {
      return refuse(Why::NotText, i);
    }
  }
  constexpr int32_t kMagicLength = sizeof kPoseMagic - 1;
  int32_t i = skipBlanks(kMagicLength);
  gPose.crlf = byteAt(i) == '\r' && byteAt(i + 1) == '\n';
  i += gPose.crlf;
  if (!startsWith(0, kPoseMagic) || byteAt(i) != '\n') return refuse(Why::Header, 0);

  gPose.modelAt = i = skipSpace(i + 1);
  while (i < n && gPose.text[i] != ';' && gPose.text[i] != '\n') i++;
  if (byteAt(i) != ';') return refuse(Why::ModelLine, gPose.modelAt);
  gPose.modelEnd = i;
  gPose.countAt = i = skipSpace(i + 1);
  while (isDigit(i)) i++;
  gPose.countEnd = i;
  if (i == gPose.countAt || i - gPose.countAt > 9 || byteAt(skipBlanks(i)) != ';') {
    return refuse(Why::Count, gPose.countAt);
  }
  gPose.count = 0;
  for (int32_t k = gPose.countAt; k < gPose.countEnd; k++) gPose.count = gPose.count * 10 + (gPose.text[k] - '0');

  for (i = skipSpace(skipBlanks(i) + 1); i < n; i = skipSpace(i)) {
    if (gPose.blocks == kMaxPoseBlocks) return refuse(Why::TooManyBlocks, i);
    PoseBlock& b = gPose.block[gPose.blocks];
    if (parseBlock(i, &b) != 0) return kResultFormat;
    gPose.blocks++;
    gPose.bones += !b.morph;
    i = b.end;
  }
  if (gPose.bones != gPose.count) return refuse(Why::CountDiffers, gPose.countAt, gPose.count, gPose.bones);
  return kResultOk;
}

}  // namespace

int32_t readPoseText(const char* path) {
  gPose.size = 0;
  gPose.blocks = gPose.bones = 0;
  if (rdOpen(path) != 0) return kResultCannotOpen;
  bool large = false;
  for (int c = rdGetByte(); c >= 0; c = rdGetByte()) {
    if (gPose.size == kMaxPoseSize) {
      large = true;
      break;
    }
    gPose.text[gPose.size++] = static_cast<uint8_t>(c);
  }
  rdClose();
  if (rdReportFailure() != 0) return kResultCannotOpen;
  if (large) return refuse(Why::TooLarge, 0);
  return parsePose();
}

int32_t refusePoseOutput() { return refuse(Why::OutputBeyond, 0); }

void poseBlockName(const PoseBlock& b, char* out, int cap) { copyCut(b.nameAt, b.nameEnd, out, cap); }

void poseModelName(char* out, int cap) { copyCut(gPose.modelAt, gPose.modelEnd, out, cap); }

int formatPoseNumber(float v, char* out) {
  // v = m × 2^-shift exactly; six decimals are m × 10^6 shifted, rounded
  // half to even as the exact value's "%f" is.
  const uint32_t bits = std::bit_cast<uint32_t>(v);
  const uint32_t exponent = bits >> 23 & 0xFF;
  uint64_t m = bits & 0x7FFFFF;
  int shift = 149;
  if (exponent != 0) m |= 0x800000, shift = 150 - static_cast<int>(exponent);
  // 2^32 and beyond, infinities and NaNs are no rotation's: the runtime's digits.
  if (shift < -8) return std::snprintf(out, kPoseNumberSize, "%f", static_cast<double>(v));
  const uint64_t n = m * 1000000;
  uint64_t q = shift <= 0 ? n << -shift : shift < 64 ? n >> shift : 0;
  if (shift > 0 && shift < 64) {
    const uint64_t rest = n & ((uint64_t{1} << shift) - 1), half = uint64_t{1} << (shift - 1);
    q += rest > half || (rest == half && (q & 1) != 0);
  }
  return std::snprintf(out, kPoseNumberSize, "%s%lu.%06lu", bits >> 31 ? "-" : "",
                       static_cast<unsigned long>(q / 1000000), static_cast<unsigned long>(q % 1000000));
}

}  // namespace torsel
