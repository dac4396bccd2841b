// Reports from the receiver: frames of the command shape (STX, letter, digits, checksum,
// ETX). Over USB each arrives as a 64-byte buffer; over the serial line the frames are cut
// out of the byte stream and checked before they get here.
#pragma once

#include <atomic>
#include <cstdint>

// True once a serial receiver's state request has been answered; cleared when the USB
// device is lost, so the next request is answered again.
extern bool SerialUploadDone;

// '0'…'9' → 0…9, 'A'…'F' and 'a'…'f' → 10…15, anything else → 0.
int HexDigitValue(uint8_t c);

// Acts on one report; frame points at its STX. C: reported gain; D: a decoded character;
// F: the tuned frequency; L: the signal level; S: the state request. Other letters are
// ignored. A C report may be parsed on the USB worker thread: it only stores the gain.
void ParseReport(const uint8_t* frame);
