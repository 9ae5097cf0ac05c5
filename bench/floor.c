/* The least any filter of this input must do: read every byte through an
 * 8192-byte stdio buffer and look at it.  Prints the number of line ends. */

#include <stdio.h>

int main(int argc, char* argv[]) {
    FILE* input = argc > 1 ? fopen(argv[1], "rb") : stdin;
    if (input == NULL) return 1;
    setvbuf(input, NULL, _IOFBF, 8192);
    long long line_ends = 0;
    int byte;
    while ((byte = getc_unlocked(input)) != EOF)
        if (byte == '\n' || byte == '\r') ++line_ends;
    printf("%lld\n", line_ends);
    return ferror(input) ? 1 : 0;
}
