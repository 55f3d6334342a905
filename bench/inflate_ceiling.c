/* The ceiling for serving a deflated entry: zlib inflating the entry's raw deflate stream from
 * memory into memory, the output buffer allocated and touched beforehand.
 *
 *   inflate_ceiling RAW_STREAM_FILE UNCOMPRESSED_SIZE [RUNS]
 *
 * Prints one line per way of inflating, with the best of RUNS (default 5) in seconds:
 *   whole     one inflate() call with Z_FINISH over the whole input into the whole output:
 *             zlib's own limit, the ceiling the server is measured against;
 *   blocks    the archive reader's way: 32 KiB input blocks, Z_SYNC_FLUSH, output through a
 *             64 KiB block copied to the caller's buffer;
 *   direct    32 KiB input blocks, Z_SYNC_FLUSH, output straight into the caller's buffer.
 * Each run checks that the stream ends and fills exactly UNCOMPRESSED_SIZE bytes. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static void fail(const char* what) {
  fprintf(stderr, "inflate_ceiling: %s\n", what);
  exit(1);
}

enum { kInputBlock = 32768, kOutputBlock = 65536 };

/* Returns the number of bytes produced. */
static size_t run(int way, const unsigned char* in, size_t inSize, unsigned char* out, size_t outSize) {
  static unsigned char block[kOutputBlock];
  z_stream s;
  memset(&s, 0, sizeof s);
  if (inflateInit2(&s, -MAX_WBITS) != Z_OK) fail("inflateInit2");
  size_t written = 0;
  int r = Z_OK;
  if (way == 0) {
    s.next_in = (unsigned char*)in;
    s.avail_in = (uInt)inSize;
    s.next_out = out;
    s.avail_out = (uInt)outSize;
    r = inflate(&s, Z_FINISH);
    written = outSize - s.avail_out;
  } else {
    size_t offset = 0;
    if (way == 1) {
      s.next_out = block;
      s.avail_out = kOutputBlock;
    } else {
      s.next_out = out;
      s.avail_out = (uInt)outSize;
    }
    while (offset < inSize && r != Z_STREAM_END) {
      size_t n = inSize - offset < kInputBlock ? inSize - offset : kInputBlock;
      s.next_in = (unsigned char*)in + offset;
      s.avail_in = (uInt)n;
      do {
        r = inflate(&s, Z_SYNC_FLUSH);
        if (r != Z_OK && r != Z_STREAM_END) fail("inflate");
        if (way == 1 && s.avail_out == 0) {
          if (written + kOutputBlock > outSize) fail("too much output");
          memcpy(out + written, block, kOutputBlock);
          written += kOutputBlock;
          s.next_out = block;
          s.avail_out = kOutputBlock;
        }
      } while (s.avail_in != 0 && r != Z_STREAM_END);
      offset += n;
    }
    if (way == 1) {
      size_t rest = kOutputBlock - s.avail_out;
      if (written + rest > outSize) fail("too much output");
      memcpy(out + written, block, rest);
      written += rest;
    } else {
      written = outSize - s.avail_out;
    }
  }
  if (r != Z_STREAM_END) fail("the stream did not end");
  inflateEnd(&s);
  return written;
}

int main(int argc, char** argv) {
  if (argc < 3) fail("usage: inflate_ceiling RAW_STREAM_FILE UNCOMPRESSED_SIZE [RUNS]");
  const size_t outSize = strtoull(argv[2], NULL, 10);
  const int runs = argc > 3 ? atoi(argv[3]) : 5;
  FILE* f = fopen(argv[1], "rb");
  if (!f) fail("cannot open the stream file");
  fseek(f, 0, SEEK_END);
  const size_t inSize = (size_t)ftell(f);
  fseek(f, 0, SEEK_SET);
  unsigned char* in = malloc(inSize ? inSize : 1);
  unsigned char* out = malloc(outSize ? outSize : 1);
  if (!in || !out || fread(in, 1, inSize, f) != inSize) fail("cannot read the stream");
  fclose(f);
  memset(out, 1, outSize);
  static const char* const names[] = {"whole", "blocks", "direct"};
  for (int way = 0; way < 3; ++way) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
      const double t = now();
      if (run(way, in, inSize, out, outSize) != outSize) fail("wrong output size");
      const double spent = now() - t;
      if (spent < best) best = spent;
    }
    printf("%s %.6f\n", names[way], best);
  }
  return 0;
}
