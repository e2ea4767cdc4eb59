#pragma once

#include "PeMessage.h"
#include "XBuffer.h"

// The PE frame codec: a pure function of its arguments, no state, no I/O.
// Frame layout and message codes are in PeMessage.h.

// Sum of the count bytes at bytes, modulo 256 (0 to 255). A count of 0 or
// less returns 0 without reading bytes.
int PeChecksum(const uint8_t* bytes, int count);

// Frames message into buffer (owned by the caller, usually new and empty):
// resizes it to exactly payloadLength + 16 bytes and writes the frame.
// Validates nothing; every field is encoded as it is. Returns 0 on success,
// -1 when the buffer could not be resized: then nothing is written and the
// buffer keeps the size and bytes it had.
int EncodePeFrame(XBuffer& buffer, const PeMessage& message);

// Decodes one received datagram of size bytes at data (null is allowed when
// size is 0). Returns 0 when the bytes are exactly one valid frame: message
// then holds command, kind, mac, payloadLength and the first payloadLength
// payload bytes, while payload bytes past payloadLength keep their old
// contents. Returns -1 otherwise; message may then be partly overwritten and
// must not be used. Never reads outside the size bytes.
int DecodePeFrame(const uint8_t* data, int size, PeMessage& message);

// DecodePeFrame over the buffer's bytes; the buffer's size is the datagram's.
int DecodePeFrame(const XBuffer& buffer, PeMessage& message);
