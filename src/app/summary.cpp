#include "app/summary.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "arm/bone_names.h"
#include "io/path_util.h"
#include "platform/platform.h"
#include "run/run_settings.h"

namespace torsel {
namespace {

constexpr int kTextSize = 520;
// The summary's text as it is built, the line in hand, and the names of
// the last file and of its output.
struct SummaryText {
  char text[kTextSize];
  int used = 0;
  char line[kTextSize];
  char fileName[plat::kPathMax];
  char outputName[plat::kPathMax];
};
SummaryText gSummary;

// A line of the summary, in English and in Japanese (Shift-JIS).
struct Line {
  const char* ja;
  const char* en;
};

// The file's name, and the name of what was written of it.
constexpr Line kName = {"%s \r\n", "%s \r\n"};
// 全ファイル計
constexpr Line kAllFiles = {"\x91\x53\x83\x74\x83\x40\x83\x43\x83\x8B\x8C\x76 \r\n", "All files total \r\n"};
// A pair's count. " 左腕　  %d フレーム" and its like: the Japanese line names
// the bone, padded with a full-width space (\x81\x40) to the elbow's width.
constexpr const char* kCountJa = " %s%s  %d \x83\x74\x83\x8C\x81\x5B\x83\x80 \r\n";
struct CountLine {
  int side;
  BoneRole role;
  const char* pad;
  const char* en;
};
constexpr CountLine kLeftArm = {.side = 0, .role = BoneRole::Arm, .pad = "\x81\x40",
                                .en = " Left  arm    %d  frame(s) \r\n"};
constexpr CountLine kLeftElbow = {.side = 0, .role = BoneRole::Elbow, .pad = "",
                                  .en = " Left  elbow  %d  frame(s) \r\n"};
constexpr CountLine kRightArm = {.side = 1, .role = BoneRole::Arm, .pad = "\x81\x40",
                                 .en = " Right arm    %d  frame(s) \r\n"};
constexpr CountLine kRightElbow = {.side = 1, .role = BoneRole::Elbow, .pad = "",
                                   .en = " Right elbow  %d  frame(s) \r\n"};
// %+d キーフレーム
constexpr Line kKeepAdded = {"Keep.motion: %+d \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80 \r\n",
                             "Keep.motion: %+d keyframe(s) \r\n"};
// 捩 %d キーフレーム
constexpr Line kTwistFolded = {"Unfold.twist: \x9D\x80 %d \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80 \r\n",
                               "Unfold.twist: %d twist keyframe(s) folded \r\n"};
// Wrist.twist: 手首 %d キーフレームを分けた
constexpr Line kWristSplit = {"Wrist.twist: \x8E\xE8\x8E\xF1 %d \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80"
                              "\x82\xF0\x95\xAA\x82\xAF\x82\xBD \r\n",
                              "Wrist.twist: %d wrist keyframe(s) split \r\n"};
// Thin.motion: %lld -> %lld キーフレーム
constexpr Line kThinned = {"Thin.motion: %lld -> %lld \x83\x4C\x81\x5B\x83\x74\x83\x8C\x81\x5B\x83\x80 \r\n",
                           "Thin.motion: %lld -> %lld keyframe(s) \r\n"};
// => %d つのファイル, 合計 %d フレームを変換しました.
constexpr Line kTotal = {"=> %d \x82\xC2\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B, \x8D\x87\x8C\x76 %d "
                         "\x83\x74\x83\x8C\x81\x5B\x83\x80\x82\xF0\x95\xCF\x8A\xB7\x82\xB5\x82\xDC\x82\xB5\x82\xBD. ",
                         "=> %d file(s), total %d frame(s) converted. "};

// Formats one line and appends it whole, or leaves it out when the text has
// no room for it: the text never ends in a piece of a line.
void appendFormatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(gSummary.line, sizeof gSummary.line, format, args);
  va_end(args);
  if (n < 0 || gSummary.used + n >= kTextSize) return;
  std::memcpy(gSummary.text + gSummary.used, gSummary.line, static_cast<size_t>(n) + 1);
  gSummary.used += n;
}
template <class... Args>
void appendLine(const Line* line, Args... args) {
  appendFormatted(plat::say(line->ja, line->en), args...);
}
void appendCount(const CountLine& c, int32_t count) {
  if (!plat::inJapanese()) return appendFormatted(c.en, static_cast<int>(count));
  char sjis[64];  // in Shift-JIS first, then as the console shows it
  std::snprintf(sjis, sizeof sjis, kCountJa, sjisName(c.side, c.role), c.pad, static_cast<int>(count));
  appendFormatted("%s", plat::conText(sjis));
}

}  // namespace

const char* buildSummaryText(const char* lastInput) {
  gSummary.used = 0;
  gSummary.text[0] = '\0';
  const RunTotals& r = gTotals;
  int32_t total = static_cast<int32_t>(static_cast<uint32_t>(r.leftArm) + static_cast<uint32_t>(r.leftElbow) +
                                       static_cast<uint32_t>(r.rightArm) + static_cast<uint32_t>(r.rightElbow));
  if (std::strlen(lastInput) >= sizeof gSummary.fileName || findFileName(gSummary.fileName, lastInput) != 0) gSummary.fileName[0] = '\0';

  if (r.convertedFileCount == 1) appendLine(&kName, gSummary.fileName);
  if (r.convertedFileCount >= 2) appendLine(&kAllFiles);
  appendCount(kLeftArm, r.leftArm);
  if (gSettings.handTwist) appendCount(kLeftElbow, r.leftElbow);
  appendCount(kRightArm, r.rightArm);
  if (gSettings.handTwist) appendCount(kRightElbow, r.rightElbow);
  // The name of the file written, from the name as stored: the same rule
  // as the output path (a pose's suffix for a pose).
  if (r.convertedFileCount == 1 &&
      pathOutputName(gSummary.outputName, sizeof gSummary.outputName, gSummary.fileName, pathOutputSuffix(gSummary.fileName)) == 0) {
    appendLine(&kName, gSummary.outputName);
  }
  if (gSettings.unfoldTwist) {
    appendLine(&kTwistFolded, static_cast<int>(r.twistFolded));
  } else if (gSettings.keepMotion > 0) {
    appendLine(&kKeepAdded, static_cast<int>(r.keepAdded));
  }
  if (gSettings.wristTwist) appendLine(&kWristSplit, static_cast<int>(r.wristSplit));
  if (thinningMotion()) appendLine(&kThinned, static_cast<long long>(r.thinIn), static_cast<long long>(r.thinOut));
  appendLine(&kTotal, static_cast<int>(r.convertedFileCount), static_cast<int>(total));
  return gSummary.text;
}

void showRunSummary(const char* lastInput) {
  const char* text = buildSummaryText(lastInput);
  if (!gSettings.noDialog) {
    plat::messageBox(text, "VMD motion converter", 0x40040);  // MB_OK | MB_ICONINFORMATION | MB_TOPMOST
    return;
  }
  for (const char* p = text; *p != '\0'; p++) {
    if (p[0] == '\r' && p[1] == '\n') continue;
    std::putchar(*p);
  }
  std::putchar('\n');
}

}  // namespace torsel
