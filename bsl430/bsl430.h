#ifndef BSL430_H
#define BSL430_H
/*
 * The BSL library: C exports that open the analyzer's MSP430 USB boot loader (BSL), unlock,
 * erase, program and verify it, and read TI-TXT images. All state lives inside the library
 * between calls; calls are serialised internally, but call sequences (open, read, close a
 * TI-TXT file; CRC check, then the receive buffer) belong to one caller at a time.
 *
 * Texts are NUL-terminated UTF-8; a null text pointer counts as an empty text.
 * Addresses are target addresses (up to 24 bits on the wire, 20 bits in TI-TXT images).
 *
 * Byte and word answers of the device operations:
 *   0                          accepted
 *   0x01 .. 0x08               the boot loader's own message (BSL430_MSG_...)
 *   0xF1 .. 0xFA               a library code (BSL430_ERR_...): the device was not reached,
 *                              the request was refused before anything was sent, or the
 *                              library itself failed
 * A device message in the range of the library codes is no boot loader message and answers
 * BSL430_ERR_BAD_ANSWER, so the two ranges never mix.
 * Once a command of a connection found the device silent or gone (BSL430_ERR_NO_ANSWER,
 * BSL430_ERR_DEVICE_LOST), every later command of that connection answers the same code at
 * once and sends nothing, until BSL_close_BSL or BSL_initialize_BSL: a device that stopped
 * answering costs one time-out, not one per command.
 * BSL_getLastError() gives a readable diagnostic of the last failed call.
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define BSL430_API __attribute__((visibility("default")))

/* One block of target memory: numberOfBytes consecutive bytes starting at startAddr. */
typedef struct DataBlock {
    uint8_t data[10240];
    uint32_t numberOfBytes;
    uint32_t startAddr;
} DataBlock;

/* The boot loader's last answer: its core bytes (0x3A followed by data, or 0x3B followed by
   a message byte) and their count. */
typedef struct dataBuffer {
    uint32_t size;
    uint8_t data[256];
} dataBuffer;

#ifdef __cplusplus
static_assert(sizeof(DataBlock) == 10248, "DataBlock layout");
static_assert(offsetof(DataBlock, numberOfBytes) == 10240, "DataBlock layout");
static_assert(offsetof(DataBlock, startAddr) == 10244, "DataBlock layout");
static_assert(sizeof(dataBuffer) == 260, "dataBuffer layout");
static_assert(offsetof(dataBuffer, data) == 4, "dataBuffer layout");
#else
_Static_assert(sizeof(DataBlock) == 10248, "DataBlock layout");
_Static_assert(offsetof(DataBlock, numberOfBytes) == 10240, "DataBlock layout");
_Static_assert(offsetof(DataBlock, startAddr) == 10244, "DataBlock layout");
_Static_assert(sizeof(dataBuffer) == 260, "dataBuffer layout");
_Static_assert(offsetof(dataBuffer, data) == 4, "dataBuffer layout");
#endif

#define BSL430_DATABLOCK_CAPACITY 10240u

/* The boot loader's message codes. */
#define BSL430_MSG_OK 0x00u
#define BSL430_MSG_FLASH_WRITE_CHECK_FAILED 0x01u
#define BSL430_MSG_FLASH_FAIL_BIT_SET 0x02u
#define BSL430_MSG_VOLTAGE_CHANGE 0x03u
#define BSL430_MSG_LOCKED 0x04u
#define BSL430_MSG_PASSWORD_ERROR 0x05u
#define BSL430_MSG_BYTE_WRITE_FORBIDDEN 0x06u
#define BSL430_MSG_UNKNOWN_COMMAND 0x07u
#define BSL430_MSG_PACKET_TOO_LARGE 0x08u

/* Library codes. */
#define BSL430_ERR_NO_DEVICE 0xF1u     /* no boot loader open (BSL_initialize_BSL not done) */
#define BSL430_ERR_NO_ANSWER 0xF2u     /* the device did not answer in time */
#define BSL430_ERR_DEVICE_LOST 0xF3u   /* a report could not be written or the device left */
#define BSL430_ERR_BAD_ANSWER 0xF4u    /* an answer of the wrong kind or form */
#define BSL430_ERR_BAD_ARGUMENT 0xF5u  /* a value the protocol cannot carry; nothing sent */
#define BSL430_ERR_BAD_IMAGE 0xF6u     /* a TI-TXT text or file is malformed; nothing sent */
#define BSL430_ERR_FILE 0xF7u          /* a file could not be opened, read or written */
#define BSL430_ERR_NOT_ERASED 0xF8u    /* BSL_eraseCheck: the range holds programmed bytes */
#define BSL430_ERR_UNSUPPORTED 0xF9u   /* not available with this boot loader family */
#define BSL430_ERR_INTERNAL 0xFAu      /* the library itself failed (out of memory...); the
                                          call broke off where it was */

/* BSL_initialize_BSL answers. */
#define BSL430_INIT_OK 0u
#define BSL430_INIT_DEVICE_NOT_FOUND 1u

/* BSL_openTI_TextForRead answers. */
#define BSL430_TEXT_OPEN_OK 0
#define BSL430_TEXT_OPEN_FAILED (-2)

/* Bytes of data in one RX Data Block (Fast) report: 62 core bytes less command and address. */
#define BSL430_MAX_DATA_PER_REPORT 58u

/* ---- Connection ---- */

/* Boot loader family: 3 = F5xx/F6xx flash devices (the only one supported, and the default). */
BSL430_API void BSL_setFamily(uint32_t family);
/* Connection kind: 2 = USB HID (the only one supported, and the default). */
BSL430_API void BSL_setCom(uint32_t com);
/* Opens the boot loader named by a device text such as "VID=0x2047,PID=0x200,DEVICEINDEX=0"
   (keys in any order and letter case, values hexadecimal with 0x or decimal; missing keys
   take the BSL's ids 0x2047/0x0200 and index 0; an empty text or "USB" selects all defaults).
   A connection already open is closed first. While open, the device's node is locked
   (flock): another program's open of the same boot loader answers 1 at once, its diagnostic
   saying that the device is in use by another updater. DEVICEINDEX counts the devices in USB port
   order; the same text opens the device opened last again while it is attached. After an
   accepted BSL_LoadPC the next call waits up to 4 s for that device to come back on its port
   and opens no other one.
   Answers 0 when the device was opened and 1 (BSL430_INIT_DEVICE_NOT_FOUND) for everything
   else: no such device, a malformed device text, an unsupported family or connection. */
BSL430_API uint8_t BSL_initialize_BSL(const char* com);
/* Closes the connection; answers 0 (also when none was open), BSL430_ERR_INTERNAL when the
   library itself failed. */
BSL430_API uint8_t BSL_close_BSL(void);
/* Number of USB devices with these ids that the connection kind can open. */
BSL430_API int32_t BSL_NumOfUSBDevices(uint16_t vid, uint16_t pid);
/* Linux needs no window for device notifications (the caller watches udev): both answer 0. */
BSL430_API uint8_t BSL_RegisterUSBDeviceNotification(void* hwnd);
BSL430_API uint8_t BSL_UnRegisterUSBDeviceNotification(void);
/* USB has no baud rate: answers 0 and changes nothing. */
BSL430_API uint8_t BSL_changeBaudRate(uint32_t rate);
/* Non-zero: diagnostics also go to standard error, unless a report callback is set. */
BSL430_API void BSL_SetVerbose(uint32_t verbose);
/* Receives every diagnostic as it is made (the text is valid for the call only); called on
   the thread of the failing call, inside the library: it must not call the library. */
typedef void (*BSL_ReportCallback)(const char* text, void* context);
/* Sets the callback the diagnostics go to, in place of standard error; null sets none.
   Leaves the last diagnostic as it is. */
BSL430_API void BSL_setReportCallback(BSL_ReportCallback callback, void* context);
/* Readable diagnostic of the last call that failed, empty after a call that succeeded.
   Every export answers its failure value (BSL430_ERR_INTERNAL, an empty block, "ERROR",
   0 or -2 as it returns) when the library itself fails, and the reason is kept here.
   The text stays valid until the next call into the library. */
BSL430_API const char* BSL_getLastError(void);

/* ---- Boot loader commands (byte answers as described at the top) ---- */

/* RX Password with the first 32 bytes of the block. A block whose numberOfBytes is not 32
   answers BSL430_ERR_BAD_ARGUMENT and sends nothing: a wrong password mass-erases. */
BSL430_API uint8_t BSL_RX_Password(DataBlock data);
/* The default password block: 32 x 0xFF for 0xFFE0, numberOfBytes 32. */
BSL430_API DataBlock BSL_getDefaultPass(void);
/* Mass Erase (all main flash; info memory kept). */
BSL430_API uint8_t BSL_massErase(void);
/* Erase Segment: the flash segment that holds addr. */
BSL430_API uint8_t BSL_eraseSegment(uint32_t addr);
/* An address in info memory (0x1800-0x19FF) erases its four segments, any other address
   mass-erases the main flash. Answers the first refusal. */
BSL430_API uint8_t BSL_eraseMainOrInfo(uint32_t addr);
/* Unlock/Lock Info: toggles the lock of info segment A. */
BSL430_API uint8_t BSL_toggleInfo(void);
/* 0 when every byte of the range reads 0xFF (checked by CRC), BSL430_ERR_NOT_ERASED when not. */
BSL430_API uint8_t BSL_eraseCheck(uint32_t addr, uint32_t length);
/* CRC Check over length bytes (at most 0xFFFF) from addr. On 0 the device's answer is the
   receive buffer: data[0] = 0x3A, data[1] = CRC low byte, data[2] = CRC high byte. */
BSL430_API uint8_t BSL_CRC_Check(uint32_t addr, uint32_t length);
/* The answer to the last command that expects one (size 0 when none came); RX Data Block
   Fast and Load PC expect none and leave it as it was. */
BSL430_API dataBuffer BSL_get_RX_Buffer(void);
/* Load PC: the device jumps to addr and sends no answer; 0 when the report was written. */
BSL430_API uint8_t BSL_LoadPC(uint32_t addr);
/* 24-bit addresses need no offset: 0 answers 0, any other value BSL430_ERR_UNSUPPORTED. */
BSL430_API uint8_t BSL_setMemOffset(uint32_t addr);
/* "Vendor:[xx],CI:[xx],API:[xx],PI:[xx]" with two upper-case hex digits each (CI, API and PI
   at 1-based positions 17-18, 26-27, 34-35), or "ERROR" when the device gave no version.
   The text stays valid until the next call into the library. */
BSL430_API const char* BSL_TX_BSL_Version_String(void);
/* The boot loader's buffer size, 0 when it did not answer. */
BSL430_API uint32_t BSL_TX_BufferSize(void);

/* ---- Whole images (word answers: 0 or a code as described at the top) ---- */

/* Programs a whole TI-TXT text: each contiguous run in chunks of up to 58 bytes.
   fast non-zero: RX Data Block Fast, no answers; 0 means every report was written.
   fast 0: RX Data Block, the first refusal is the answer.
   A malformed text answers BSL430_ERR_BAD_IMAGE before anything is sent. */
BSL430_API uint32_t BSL_RX_TXT(const char* dataArray, int32_t fast);
/* The same for a TI-TXT file; a file that cannot be read answers BSL430_ERR_FILE. */
BSL430_API uint32_t BSL_RX_TXT_File(const char* fileName, int32_t fast);
/* Reads length bytes of target memory from addr and writes them as a TI-TXT file.
   The file is written only when every byte was read. */
BSL430_API uint32_t BSL_TX_TXT_File(const char* fileName, uint32_t addr, uint32_t length);

/* ---- TI-TXT reader ---- */

/* Reads and checks a whole TI-TXT file for block reading. 0 when ready; -2 when the file
   cannot be read and also when it is malformed (bad hex pair, odd digit count, data before
   any address line, an address beyond 20 bits, data given twice, text after or no end
   line "q"): a damaged image must never pass for an empty one. */
BSL430_API int32_t BSL_openTI_TextForRead(const char* filename);
/* 1 while blocks are left to read, 0 at the end or when no file is open. */
BSL430_API int32_t BSL_moreDataToRead_TextFile(void);
/* The next block: consecutive bytes of one contiguous run, at most bytesToRead and never
   more than 10240. A power-of-two count also keeps the block inside one window of that
   size (512: one flash segment). An empty block (numberOfBytes 0) when nothing is left.
   A count of 0 or less is refused: an empty block, and the reading is ended (so a loop on
   BSL_moreDataToRead_TextFile stops instead of spinning). */
BSL430_API DataBlock BSL_readTI_TextFile(int32_t bytesToRead);
/* Ends the file reading. */
BSL430_API void BSL_closeTI_Text(void);
/* The first block of a TI-TXT text in memory, cut as BSL_readTI_TextFile cuts; an empty block
   when the text is malformed or holds no data, or the count is 0 or less. Leaves any file
   reading as it is. */
BSL430_API DataBlock BSL_readTI_Text(const char* dataArray, int32_t bytesToRead);

#ifdef __cplusplus
}
#endif

#endif /* BSL430_H */
