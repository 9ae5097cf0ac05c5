// SPDX-License-Identifier: ISC
// The one place that looks inside a stream's buffer.
//
// The reader takes the bytes the input buffer already holds in runs, and
// the writer puts whole sets into the room the output buffer has, instead
// of a library call per byte.  On glibc the buffer pointers are public
// fields that its own getc_unlocked and putc_unlocked macros use.  Anywhere
// else, and in a build with KEPSIFT_PORTABLE, a stream holds no bytes and
// has no room, so callers fall back to getc_unlocked and fwrite.

#ifndef KEPSIFT_STREAM_BUFFER_H
#define KEPSIFT_STREAM_BUFFER_H

#include <cstddef>
#include <cstdio>

#if defined(__GLIBC__) && !defined(KEPSIFT_PORTABLE)
#define KEPSIFT_STREAM_BUFFERS 1
#endif

// The bytes the input buffer holds that have not been taken yet.
inline std::size_t buffered_input(FILE* stream, const char** bytes) {
#ifdef KEPSIFT_STREAM_BUFFERS
    *bytes = stream->_IO_read_ptr;
    return static_cast<std::size_t>(stream->_IO_read_end - stream->_IO_read_ptr);
#else
    (void)stream;
    *bytes = nullptr;
    return 0;
#endif
}

// Takes count of the bytes buffered_input gave.
inline void consume_input(FILE* stream, std::size_t count) {
#ifdef KEPSIFT_STREAM_BUFFERS
    stream->_IO_read_ptr += count;
#else
    (void)stream, (void)count;
#endif
}

// The room left in the output buffer.
inline std::size_t output_room(FILE* stream, char** room) {
#ifdef KEPSIFT_STREAM_BUFFERS
    *room = stream->_IO_write_ptr;
    return static_cast<std::size_t>(stream->_IO_write_end - stream->_IO_write_ptr);
#else
    (void)stream;
    *room = nullptr;
    return 0;
#endif
}

// Commits count bytes put at the start of the room output_room gave.
inline void commit_output(FILE* stream, std::size_t count) {
#ifdef KEPSIFT_STREAM_BUFFERS
    stream->_IO_write_ptr += count;
#else
    (void)stream, (void)count;
#endif
}

// The stream's end-of-file and error indicators, without taking its lock:
// the program has one thread, and the reader asks before every line.
inline bool stream_ended(FILE* stream) {
#ifdef KEPSIFT_STREAM_BUFFERS
    return feof_unlocked(stream) != 0;
#else
    return std::feof(stream) != 0;
#endif
}

inline bool stream_failed(FILE* stream) {
#ifdef KEPSIFT_STREAM_BUFFERS
    return ferror_unlocked(stream) != 0;
#else
    return std::ferror(stream) != 0;
#endif
}

#endif
