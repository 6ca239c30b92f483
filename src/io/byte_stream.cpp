#include "io/byte_stream.h"

#include "platform/platform.h"

namespace torsel {

RdStream gRd;
WrStream gWr;

namespace {

// The stream buffers the file itself, so the runtime's own buffering is
// switched off rather than stacked on top of it.
int unbuffer(std::FILE* f) { return std::setvbuf(f, nullptr, _IONBF, 0) == 0 ? 0 : -1; }

// The output's target and the file of the program's own written in its stead.
struct OutputFiles {
  char target[plat::kPathMax];
  char temp[plat::kPathMax];
};
OutputFiles gOutput;

int openInput(const char* path, bool verbose) {
  rdClose();
  std::FILE* f = plat::openRead(path);
  if (f == nullptr) {
    if (verbose) std::printf("Cannot open RD file : %s\n", path);
    return -1;
  }
  if (verbose && unbuffer(f) != 0) {
    std::printf("Buffering failed.(RD) \n");
    std::fclose(f);
    return -1;
  }
  gRd.file = f;
  gRd.closed = 0;
  gRd.failed = 0;
  gRd.count = 0;
  gRd.pos = 0;
  gRd.len = 0;
  return 0;
}

// The first failed write: said once, and the stream closes without trying
// again.
int failOutput() {
  std::printf("File writing error.(or Disk full)\n");
  std::fclose(gWr.file);
  gWr.file = nullptr;
  gWr.closed = 0xFF;
  gWr.len = 0;
  return -1;
}

// Writes out the buffered bytes.
int flushBuffer() {
  if (gWr.len > 0 &&
      std::fwrite(gWr.buf, 1, static_cast<size_t>(gWr.len), gWr.file) != static_cast<size_t>(gWr.len)) {
    return failOutput();
  }
  gWr.len = 0;
  return 0;
}

}  // namespace

int rdOpen(const char* path) { return openInput(path, true); }

int rdReportFailure() {
  if (!rdHasFailed()) return 0;
  std::printf("Cannot read RD file at %06X \n", static_cast<unsigned>(rdCount()));
  return -1;
}

int rdProbe(const char* path) { return openInput(path, false); }

void rdClose() {
  if (!gRd.closed && gRd.file != nullptr) std::fclose(gRd.file);
  gRd.file = nullptr;
  gRd.closed = 0xFF;
  gRd.pos = 0;
  gRd.len = 0;
}

namespace {

// Fills the empty buffer; 0 at the end of the file or after a failed read,
// which close the stream.
int fillBuffer() {
  size_t got = std::fread(gRd.buf, 1, sizeof gRd.buf, gRd.file);
  if (got == 0) {
    if (std::ferror(gRd.file)) gRd.failed = 0xFF;
    rdClose();
    return 0;
  }
  gRd.len = static_cast<int>(got);
  gRd.pos = 0;
  return gRd.len;
}

}  // namespace

int rdRefill() {
  if (fillBuffer() == 0) return -1;
  gRd.count++;
  return gRd.buf[gRd.pos++];
}

int rdSkip(int32_t n) {
  while (n > 0) {
    if (gRd.closed) return -1;
    if (gRd.pos == gRd.len && fillBuffer() == 0) return -1;
    int take = gRd.len - gRd.pos < n ? gRd.len - gRd.pos : n;
    gRd.pos += take;
    gRd.count += take;
    n -= take;
  }
  return 0;
}

int64_t rdSize() { return gRd.closed ? -1 : plat::fileSize(gRd.file); }

int wrOpenBeside(const char* target) {
  const bool fits = std::strlen(target) < sizeof gOutput.target;
  std::FILE* f = !fits || plat::isWriteProtected(target) ? nullptr : plat::createTemp(target, gOutput.temp);
  if (f == nullptr) {
    std::printf("Cannot open WR file : %s\n", target);
    return -1;
  }
  std::strcpy(gOutput.target, target);
  if (unbuffer(f) != 0) {
    std::printf("Buffering failed.(WR)\n");
    std::fclose(f);
    plat::removeFile(gOutput.temp);
    plat::releaseTemp();
    return -1;
  }
  gWr.file = f;
  gWr.count = 0;
  gWr.len = 0;
  gWr.closed = 0;
  return 0;
}

int wrFlushFull() { return flushBuffer(); }

int wrClose() {
  if (gWr.closed) return 0;
  int result = flushBuffer();
  if (result == 0) {
    result = std::fclose(gWr.file) == 0 ? 0 : -1;
    if (result != 0) std::printf("File writing error.(or Disk full)\n");
  }
  gWr.file = nullptr;
  gWr.closed = 0xFF;
  return result;
}

int wrPatchInt32(int32_t offset, int32_t value) {
  if (gWr.closed || flushBuffer() != 0) return -1;
  uint8_t bytes[4];
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; i++) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
  if (std::fseek(gWr.file, offset, SEEK_SET) != 0 || std::fwrite(bytes, 1, 4, gWr.file) != 4 ||
      std::fseek(gWr.file, 0, SEEK_END) != 0) {
    return failOutput();
  }
  return 0;
}

int wrPublish() {
  if (plat::replaceFile(gOutput.temp, gOutput.target) != 0) {
    std::printf("Cannot replace file : %s\n", gOutput.target);
    return -1;
  }
  plat::releaseTemp();
  return 0;
}

void wrAbandon() {
  wrClose();
  plat::removeFile(gOutput.temp);
  plat::releaseTemp();
}

}  // namespace torsel
