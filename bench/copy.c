// SPDX-License-Identifier: ISC
/* The least a filter that writes nearly all it reads must pay: copy the
 * input to the output in blocks of 8192 bytes through 8192-byte stream
 * buffers.  copy INPUT [OUTPUT] */

#include <stdio.h>

/* The program's own storage, so that the buffers are the size asked for. */
static char input_buffer[8192];
static char output_buffer[8192];
static char block[8192];

int main(int argc, char* argv[]) {
    FILE* input = argc > 1 ? fopen(argv[1], "rb") : stdin;
    FILE* output = argc > 2 ? fopen(argv[2], "w") : stdout;
    if (input == NULL || output == NULL) return 1;
    setvbuf(input, input_buffer, _IOFBF, sizeof input_buffer);
    setvbuf(output, output_buffer, _IOFBF, sizeof output_buffer);
    size_t count;
    while ((count = fread(block, 1, sizeof block, input)) > 0)
        if (fwrite(block, 1, count, output) != count) return 1;
    return ferror(input) || fclose(output) != 0 ? 1 : 0;
}
