// The appended uninstall data, as it lies in the uninstaller's file.
//
// An installer copies the stub and appends a chain of tagged blocks to the copy. The stub finds
// the chain through DataOffsetField, a 32-bit field that sits right behind a six-byte marker in
// its initialised data; the packer finds the field by that marker. This header is the one place
// that defines the layout, and both sides include it: the stub's loader and the packer's writer
// and reader. It holds only fixed-width types and constants, so it builds for Win32 and natively.
#pragma once

#include <stdint.h>

// The marker and the field behind it form a 10-byte record in the stub's data. The stub as built
// holds its own file size in the field, which is where data appended to the file begins.
#define DATA_MARKER "wwgT)H"
enum { DATA_MARKER_LENGTH = 6, DATA_OFFSET_RECORD_SIZE = 10 };

// Every block is a BlockHeader followed by Length bytes of body; the next header follows the body.
#pragma pack(push, 1)
struct BlockHeader {
    uint16_t Tag;
    uint8_t Flags;   // BLOCK_FLAG_UNSUPPORTED; the other bits mean nothing
    uint8_t Spare;   // never read
    uint32_t Length; // bytes of body
};
#pragma pack(pop)
static_assert(sizeof(BlockHeader) == 8, "BlockHeader is 8 bytes on disk");

enum : uint16_t {
    BLOCK_MESSAGES = 0x1234,
    BLOCK_FILES = 0x1235,
    BLOCK_FOLDER_GROUPS = 0x1236,
    BLOCK_REGISTRY = 0x1237,
    BLOCK_PATTERNS = 0x1239,
    BLOCK_SETTINGS = 0x123A,
    BLOCK_END = 0x7F7F,
};

// Only whole-block reads (settings and patterns) honour this bit: the body is in a form the stub
// cannot take, and the load fails with a read error.
enum : uint8_t { BLOCK_FLAG_UNSUPPORTED = 0x01 };

// Settings body: three 32-bit fields, then the strings the two offsets point at. The offsets count
// from the start of the body; 0 means "none".
enum : uint32_t {
    SETTINGS_WAIT_PRE_COMMAND = 0x01,
    SETTINGS_THEMED_CONTROLS = 0x02,
};
enum {
    SETTINGS_FLAGS_AT = 0,
    SETTINGS_PRE_COMMAND_AT = 4,
    SETTINGS_CLOSING_DOCUMENT_AT = 8,
    SETTINGS_HEADER_SIZE = 12,
};

// File entry flags. The four high bits are stored and mean nothing.
enum : uint8_t {
    FILE_SHARED_DLL = 0x01,
    FILE_FONT = 0x02,
    FILE_COM_SERVER = 0x04,
    FILE_CHECK_IN_USE = 0x08,
};

// Message numbers of table 0. Message 0 is the caption of every box and the title of every window.
enum {
    MSG_TITLE = 0,
    MSG_CONFIRM = 1,
    MSG_FINISHED = 2,
    MSG_YES = 3,
    MSG_YES_TO_ALL = 4,
    MSG_NO = 5,
    MSG_NO_TO_ALL = 6,
    MSG_NO_MEMORY = 7,
    MSG_READ_ERROR = 8,
    MSG_READ_ONLY = 9,
    MSG_SHARED_FILE = 10,
    MSG_STATUS_FILES = 11,
    MSG_STATUS_GROUPS = 12,
    MSG_STATUS_FOLDERS = 13,
    MSG_STATUS_REGISTRY = 14,
    MSG_FILES_IN_USE = 15,
    MSG_COUNT = 16,
};

// Predefined root keys, stored in registry entries as the platform's handle values.
enum : uint32_t {
    ROOT_CLASSES_ROOT = 0x80000000u,
    ROOT_CURRENT_USER = 0x80000001u,
    ROOT_LOCAL_MACHINE = 0x80000002u,
    ROOT_USERS = 0x80000003u,
    ROOT_CURRENT_CONFIG = 0x80000005u,
};

// What the stub can hold. Every path has at most 259 characters; an entry's texts pass through a
// working buffer of two or three path sizes; a formatted message fills at most 1,024 bytes.
enum {
    PATH_SIZE = 260,
    FILE_ENTRY_TEXT_SIZE = 520,     // folder + NUL + file name + NUL
    REGISTRY_ENTRY_TEXT_SIZE = 520, // key path + NUL
    FOLDER_GROUP_TEXT_SIZE = 780,   // folder + NUL + second folder + NUL + file name + NUL
    MESSAGE_TEXT_SIZE = 1024,
    MESSAGE_LENGTH_MAX = 65535,
};
