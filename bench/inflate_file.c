/* The floor of ics-split's gzip input: zlib inflating the gzip stream that starts at OFFSET of
   INPUT into OUTPUT, with buffers of the sizes ics-split uses.
     inflate-file INPUT OFFSET OUTPUT */
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        fputs("usage: inflate-file INPUT OFFSET OUTPUT\n", stderr);
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    FILE* out = fopen(argv[3], "wb");
    if (!in || !out || fseeko(in, (off_t)strtoll(argv[2], NULL, 10), SEEK_SET) != 0) return 1;
    enum { inBytes = 256 * 1024, outBytes = 2 * 1024 * 1024 };
    static unsigned char input[inBytes], output[outBytes];
    z_stream z = {0};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return 1;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (z.avail_in == 0) {
            z.avail_in = (uInt)fread(input, 1, inBytes, in);
            z.next_in = input;
            if (z.avail_in == 0) return 1;
        }
        z.next_out = output;
        z.avail_out = outBytes;
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return 1;
        if (fwrite(output, 1, outBytes - z.avail_out, out) != outBytes - z.avail_out) return 1;
    }
    inflateEnd(&z);
    return fclose(out) == 0 ? 0 : 1;
}
