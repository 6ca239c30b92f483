// The one input stream (RD) and the one output stream (WR) through which all
// file data pass, one byte at a time. Each keeps its own 4096-byte buffer
// and a count of the bytes moved; the per-byte steps are inline so that
// files of hundreds of megabytes cost little more than a copy.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace torsel {

inline constexpr int kStreamBufferSize = 4096;

struct RdStream {
  uint8_t closed = 0xFF;   // 0 while open, 0xFF while closed
  uint8_t failed = 0;      // 0xFF once a read failed for a reason other than the end
  std::FILE* file = nullptr;
  int32_t count = 0;       // bytes returned since the last open
  int pos = 0;             // next unread byte of buf
  int len = 0;             // bytes held in buf
  uint8_t buf[kStreamBufferSize];
};

struct WrStream {
  uint8_t closed = 0xFF;   // 0 while open, 0xFF while closed
  std::FILE* file = nullptr;
  int32_t count = 0;       // bytes accepted since the last open
  int len = 0;             // bytes waiting in buf
  uint8_t buf[kStreamBufferSize];
};

extern RdStream gRd;
extern WrStream gWr;

/// Opens the input; prints why on failure. 0 or -1.
int rdOpen(const char* path);
/// Opens the input silently, to test that a file can be read. 0 or -1.
int rdProbe(const char* path);
/// Closes the input if open; always leaves it closed.
void rdClose();
/// Refills the buffer; the slow half of rdGetByte.
int rdRefill();
/// Steps over `n` bytes as `n` rdGetByte calls would. 0, or -1 when the
/// input ended first.
int rdSkip(int32_t n);
/// Size of the open input file in bytes; -1 when unknown or closed.
int64_t rdSize();

/// The next byte (0..255), or -1 at the end of the input or after a read
/// error; either closes the stream.
inline int rdGetByte() {
  if (gRd.closed) return -1;
  if (gRd.pos < gRd.len) {
    gRd.count++;
    return gRd.buf[gRd.pos++];
  }
  return rdRefill();
}

/// Little-endian int32; a missing byte contributes 0xFF.
inline int32_t rdGetInt32() {
  uint32_t v = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    v |= static_cast<uint32_t>(rdGetByte() & 0xFF) << shift;
  }
  return static_cast<int32_t>(v);
}

inline float rdGetFloat32() {
  uint32_t bits = static_cast<uint32_t>(rdGetInt32());
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

/// `n` bytes, exactly as `n` rdGetByte calls give them (a missing byte
/// reads as 0xFF); one copy when the buffer holds them all.
inline void rdGetBytes(uint8_t* dst, int n) {
  if (!gRd.closed && gRd.len - gRd.pos >= n) {
    std::memcpy(dst, gRd.buf + gRd.pos, static_cast<size_t>(n));
    gRd.pos += n;
    gRd.count += n;
    return;
  }
  for (int i = 0; i < n; i++) dst[i] = static_cast<uint8_t>(rdGetByte());
}

inline int rdIsClosed() { return gRd.closed ? -1 : 0; }
inline int32_t rdCount() { return gRd.count; }
/// -1 when the stream closed because a read failed, not at the end of the file.
inline int rdHasFailed() { return gRd.failed ? -1 : 0; }
/// Where the input stopped on a failed read, not at its end: the line
/// "Cannot read RD file at <offset>" printed, and -1; else 0.
int rdReportFailure();

/// Opens the output on a new file of the program's own beside `target`
/// (plat::createTemp), which takes the target's place only once complete
/// (wrPublish) and is removed otherwise (wrAbandon): an earlier output
/// survives any failure. A write-protected `target` is refused as "wb"
/// would refuse it. Prints why on failure, naming `target`. 0 or -1.
int wrOpenBeside(const char* target);
/// Writes out what is buffered and closes the output. -1 when that write or
/// the close failed (the failure message is printed then).
int wrClose();
/// Moves the closed output's file over its target in one step. 0; or -1
/// with "Cannot replace file : <target>" printed, the file still to be
/// abandoned.
int wrPublish();
/// Closes the output and removes its file; the target stays as it was.
void wrAbandon();
/// Empties the full buffer into the file; the slow half of wrPutByte.
int wrFlushFull();
/// Rewrites four bytes at an earlier offset of the output. 0 or -1.
int wrPatchInt32(int32_t offset, int32_t value);

/// Writes one byte; -1 once the stream has failed (the first failure prints
/// the disk-full message and closes the stream).
inline int wrPutByte(int byte) {
  if (gWr.closed) return -1;
  if (gWr.len == kStreamBufferSize && wrFlushFull() != 0) return -1;
  gWr.buf[gWr.len++] = static_cast<uint8_t>(byte);
  gWr.count++;
  return 0;
}

inline int wrIsClosed() { return gWr.closed ? -1 : 0; }

/// `n` bytes, exactly as `n` wrPutByte calls write them; one copy when the
/// buffer has room. 0, or -1 once the stream has failed.
inline int wrPutBytes(const uint8_t* src, int n) {
  if (!gWr.closed && kStreamBufferSize - gWr.len >= n) {
    std::memcpy(gWr.buf + gWr.len, src, static_cast<size_t>(n));
    gWr.len += n;
    gWr.count += n;
    return 0;
  }
  for (int i = 0; i < n; i++) wrPutByte(src[i]);
  return wrIsClosed();
}
inline int32_t wrCount() { return gWr.count; }

inline int wrPutInt32(int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  wrPutByte(static_cast<int>(v & 0xFF));
  wrPutByte(static_cast<int>((v >> 8) & 0xFF));
  wrPutByte(static_cast<int>((v >> 16) & 0xFF));
  wrPutByte(static_cast<int>(v >> 24));
  return wrIsClosed();
}

inline int wrPutFloat32(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return wrPutInt32(static_cast<int32_t>(bits));
}

}  // namespace torsel
