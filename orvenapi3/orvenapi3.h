/* Stand-in for the vendor's device-protocol library ORVENAPI3.
 *
 * Packet (74 bytes, little-endian integers; a datagram may carry more bytes
 * after them, which are ignored):
 *   0  2  magic 0x4F 0x56
 *   2  1  format flag (copied by the tool, any value)
 *   3  1  kind: 0xFF announcement, 0xFC announcement after applying a
 *         configuration, 0x5A configuration-set, anything else: not handled
 *   4  8  device identity
 *  12 60  configuration record
 *  72  2  CRC-16/CCITT-FALSE of bytes 0..71
 */
#ifndef ORVENAPI3_H
#define ORVENAPI3_H

#if defined(_WIN32)
#  if defined(ORVENAPI3_BUILDING)
#    define ORVENAPI3_EXPORT __declspec(dllexport)
#  else
#    define ORVENAPI3_EXPORT __declspec(dllimport)
#  endif
#else
#  define ORVENAPI3_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
  ORVEN_PACKET_SIZE = 74,
  ORVEN_CONFIG_OFFSET = 12,
  ORVEN_CONFIG_SIZE = 60,
  ORVEN_KIND_ANNOUNCE = 0xFF,
  ORVEN_KIND_APPLIED = 0xFC,
  ORVEN_KIND_CONFIG_SET = 0x5A
};

/* The four calls the tool uses. */

/* 0 when the datagram is shorter than 74 bytes, the magic differs or the
 * check does not match; otherwise the kind byte. Never reads past length,
 * never changes the buffer. */
ORVENAPI3_EXPORT int PreparePackage(unsigned char* buffer, int length);
/* The identity at offset 4 (of a packet PreparePackage accepted). */
ORVENAPI3_EXPORT unsigned long long GetDeviceIdent(unsigned char* buffer);
/* The address of the configuration record inside the packet: buffer + 12. */
ORVENAPI3_EXPORT unsigned char* ReadNetConfigration(unsigned char* buffer);
/* Turns the packet into a configuration-set packet carrying the record found
 * at offset 12: kind 0x5A, check recomputed; returns 74. */
ORVENAPI3_EXPORT int SendNetConfigration(unsigned char* buffer);

/* Device-side helpers (simulator, test peers). */

/* CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF, no reflection, no xor out). */
ORVENAPI3_EXPORT unsigned short OrvenCrc16(const unsigned char* data, int length);
/* Writes a complete 74-byte packet into buffer (capacity bytes available).
 * config may be null (all zero). Returns 74, or 0 when capacity < 74. */
ORVENAPI3_EXPORT int OrvenBuildPacket(unsigned char* buffer, int capacity, unsigned char kind,
                                      unsigned char format_flag, unsigned long long ident,
                                      const unsigned char* config);
/* When the datagram is a well-formed configuration-set packet, stores its
 * identity and its 60 configuration bytes (either output may be null) and
 * returns 1; otherwise returns 0 and stores nothing. */
ORVENAPI3_EXPORT int OrvenReadConfigSet(const unsigned char* buffer, int length,
                                        unsigned long long* ident, unsigned char* config);

#ifdef __cplusplus
}
#endif

#endif
