#pragma once

#include <cstdint>

// Handles, constants and records of the imaging library calls, with the values
// and meanings of the Windows imaging API so that a wimgapi backend can forward
// them unchanged.

// An open archive or a loaded image. Opaque; owned by the backend that made it
// and released with WIMCloseHandle. Null means failure.
struct WimObject;
using HWIM = WimObject *;

// Desired access.
constexpr uint32_t WIM_GENERIC_READ = 0x80000000u;
constexpr uint32_t WIM_GENERIC_WRITE = 0x40000000u;
constexpr uint32_t WIM_GENERIC_READ_WRITE = WIM_GENERIC_READ | WIM_GENERIC_WRITE;  // 0xC0000000

// Creation disposition.
constexpr uint32_t WIM_CREATE_NEW = 1;
constexpr uint32_t WIM_CREATE_ALWAYS = 2;
constexpr uint32_t WIM_OPEN_EXISTING = 3;
constexpr uint32_t WIM_OPEN_ALWAYS = 4;

// Creation result of WIMCreateFile.
constexpr uint32_t WIM_CREATED_NEW = 0;
constexpr uint32_t WIM_OPENED_EXISTING = 1;

// Flags of WIMCreateFile.
constexpr uint32_t WIM_FLAG_SHARE_WRITE = 0x00000040;
// Extension, outside the bits the Windows imaging library defines (a wimgapi
// backend takes it off before forwarding): an archive that WIMCreateFile
// creates stores its file data as solid resources, the ESD form (with
// WIM_COMPRESS_LZMS, the usual partner). Ignored when an existing archive is
// opened: it keeps the form it has.
constexpr uint32_t WIM_FLAG_SOLID = 0x20000000;

// Flags of WIMApplyImage.
constexpr uint32_t WIM_FLAG_VERIFY = 0x00000002;
constexpr uint32_t WIM_FLAG_INDEX = 0x00000004;

// Extension flag of WIMCaptureImage and WIMApplyImage (no Windows imaging API
// value): `path` names an NTFS volume (a block device, or a file holding a
// volume image) instead of a folder, read or written directly in NTFS-3G mode
// so that security descriptors, attributes, named streams, short names,
// reparse points and object IDs are kept. The Windows API's own flags of these
// calls lie in the low 16 bits (0x1 to 0x8000); this bit is one it leaves
// unused, and a wimgapi backend must refuse it rather than pass it on.
constexpr uint32_t WIM_FLAG_NTFS_VOLUME = 0x40000000u;

// Extension flag of WIMCaptureImage (no Windows imaging API value, in the
// bits that API leaves unused): read every file, as a first capture does,
// instead of taking unchanged files from an earlier image of the same source
// (see WIMCaptureImage). A backend that always reads every file may ignore
// it; a wimgapi backend takes it off before forwarding.
constexpr uint32_t WIM_FLAG_FULL_READ = 0x10000000u;
// WIMMountImage and WIMUnmountImage (extensions): a read-write mount; an
// unmount that keeps the changes (without it they are dropped).
constexpr uint32_t WIM_MOUNT_FLAG_READWRITE = 0x00000001u;
constexpr uint32_t WIM_UNMOUNT_FLAG_COMMIT = 0x00000001u;

// Flags of WIMExportImage.
constexpr uint32_t WIM_EXPORT_ALLOW_DUPLICATES = 0x00000001;

// Compression types.
constexpr uint32_t WIM_COMPRESS_NONE = 0;
constexpr uint32_t WIM_COMPRESS_XPRESS = 1;
constexpr uint32_t WIM_COMPRESS_LZX = 2;
constexpr uint32_t WIM_COMPRESS_LZMS = 3;

// Messages to the registered callback.
constexpr uint32_t WIM_MSG = 0x9476;  // WM_APP + 0x1476
constexpr uint32_t WIM_MSG_TEXT = WIM_MSG + 1;
constexpr uint32_t WIM_MSG_PROGRESS = WIM_MSG + 2;  // 0x9478: wParam percent, lParam ms left
constexpr uint32_t WIM_MSG_PROCESS = WIM_MSG + 3;   // 0x9479: wParam path, lParam int32_t* keep flag
constexpr uint32_t WIM_MSG_SCANNING = WIM_MSG + 4;
constexpr uint32_t WIM_MSG_SETRANGE = WIM_MSG + 5;
constexpr uint32_t WIM_MSG_SETPOS = WIM_MSG + 6;
constexpr uint32_t WIM_MSG_STEPIT = WIM_MSG + 7;
constexpr uint32_t WIM_MSG_COMPRESS = WIM_MSG + 8;
constexpr uint32_t WIM_MSG_ERROR = WIM_MSG + 9;  // 0x947F: wParam path, lParam error code
constexpr uint32_t WIM_MSG_ALIGNMENT = WIM_MSG + 10;
constexpr uint32_t WIM_MSG_RETRY = WIM_MSG + 11;  // 0x9481
constexpr uint32_t WIM_MSG_SPLIT = WIM_MSG + 12;
constexpr uint32_t WIM_MSG_FILEINFO = WIM_MSG + 13;
constexpr uint32_t WIM_MSG_INFO = WIM_MSG + 14;     // 0x9484
constexpr uint32_t WIM_MSG_WARNING = WIM_MSG + 15;  // 0x9485

// Answers of the callback.
constexpr uint32_t WIM_MSG_SUCCESS = 0;
constexpr uint32_t WIM_MSG_DONE = 0xFFFFFFF0u;
constexpr uint32_t WIM_MSG_SKIP_ERROR = 0xFFFFFFFEu;
constexpr uint32_t WIM_MSG_ABORT_IMAGE = 0xFFFFFFFFu;

constexpr uint32_t INVALID_CALLBACK_VALUE = 0xFFFFFFFFu;

// The message callback. wParam / lParam carry what the message table says:
// for WIM_MSG_PROCESS, wParam is a NUL-terminated const char16_t* path and
// lParam an int32_t* keep flag (non-zero = process the path); for the four log
// messages, wParam is the path and lParam the error code.
using WIMMessageCallback = uint32_t (*)(uint32_t messageId, uintptr_t wParam, intptr_t lParam, void *userData);

struct WIM_GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

// Attributes of an open archive; the layout of the Windows record (560 bytes).
struct WIM_INFO {
    char16_t WimPath[260];
    WIM_GUID Guid;
    uint32_t ImageCount;
    uint32_t CompressionType;
    uint16_t PartNumber;
    uint16_t TotalParts;
    uint32_t BootIndex;  // 1-based; 0 = no boot image
    uint32_t WimAttributes;
    uint32_t WimFlagsAndAttr;
};
static_assert(sizeof(WIM_INFO) == 560, "WIM_INFO must keep the Windows layout");
