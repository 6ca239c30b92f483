// Thins a motion on its own, as a pass of the program will: every bone
// record held in file order through the program's input stream, thinned,
// then the file read again and written with the records kept and their
// curves anew. For measuring and testing the thinner.
//
//   thin_motion IN.vmd OUT.vmd [TENTHS [FROM TO]]
//
// TENTHS of a degree (5: 0.5 degrees), the distance that goes with it; then
// a line: keyframes held and written, the largest deviation (degrees) and
// distance (units) the check measured, keyframes mended, odd, shadowed and
// left unworked, and the frames still beyond; then each such frame.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "format/key_block.h"
#include "format/vmd_format.h"
#include "io/byte_stream.h"
#include "thin/thinner.h"

using namespace torsel;

namespace {

// The header and the bone count; -1 where the input is no motion.
int32_t openMotion(const char* path, uint8_t* header) {
  if (rdOpen(path) != 0) return -1;
  rdGetBytes(header, kBoneCountOffset);
  const int32_t count = rdGetInt32();
  return rdIsClosed() || std::memcmp(header, kMagic, 4) != 0 || count < 0 ? -1 : count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4 && argc != 6) {
    std::fprintf(stderr, "usage: thin_motion IN.vmd OUT.vmd [TENTHS [FROM TO]]\n");
    return 2;
  }
  thin::ThinOptions o;
  if (argc >= 4) o.bound = std::strtod(argv[3], nullptr) / 10, o.distance = thin::distanceFor(o.bound);
  if (argc == 6)
    o.from = uint32_t(std::strtoul(argv[4], nullptr, 10)), o.to = uint32_t(std::strtoul(argv[5], nullptr, 10));
  thin::Thinner thinner(o);
  uint8_t header[kBoneCountOffset];
  const int32_t count = openMotion(argv[1], header);
  if (count < 0) return std::fprintf(stderr, "thin_motion: %s is no motion\n", argv[1]), 1;
  BoneKeyframe kf;
  for (int32_t i = 0; i < count && readBoneKeyframe(&kf) == 0; i++) thinner.hold(kf.name.text, heldKeyOf(kf));
  rdClose();
  const thin::ThinReport r = thinner.run();

  if (openMotion(argv[1], header) < 0 || wrOpenBeside(argv[2]) != 0) return 1;
  wrPutBytes(header, kBoneCountOffset);
  wrPutInt32(0);
  int32_t written = 0;
  for (int32_t i = 0; i < count && readBoneKeyframe(&kf) == 0; i++) {
    const thin::Thinner::Written w = thinner.next(kf.name.text);
    if (!w.kept) continue;
    if (w.changed) {
      HeldKey k = heldKeyOf(kf);
      std::memcpy(k.params, w.params.data(), 16);
      unpackBlock(k, kf.bz);
    }
    if (writeBoneKeyframe(kf, kf.name.raw, kf.rot) != 0) return wrAbandon(), 1;
    written++;
  }
  for (int c = rdGetByte(); c >= 0; c = rdGetByte()) wrPutByte(c);  // the morphs and anything after, as they are
  rdClose();
  if (wrPatchInt32(kBoneCountOffset, written) != 0 || wrClose() != 0 || wrPublish() != 0) return wrAbandon(), 1;
  std::printf("held %" PRIu64 " written %" PRIu64 " worst %.4f farthest %.5f mended %" PRIu64 " odd %" PRIu64
              " shadowed %" PRIu64 " unworked %" PRIu64 " beyond %" PRIu64 "\n",
              r.held, r.written, r.worst, r.farthest, r.mended, r.odd, r.shadowed, r.unworked, r.strayCount);
  for (const thin::Stray& s : r.strays) {
    std::printf("beyond bone %u frame %u %.4f deg %.5f units\n", s.bone, s.frame, s.degrees, s.distance);
  }
  return 0;
}
