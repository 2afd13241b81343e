/* The decoding library: decodes MPEG audio (and reads PCM WAV files, and FLAC, AIFF, Ogg and
 * the other sound files that libsndfile reads), plays it on the sound output or writes it to a
 * WAV file, on threads of its own. Commands go in through
 * control_message_send_*; everything the library has to say comes back as notifications
 * posted to the player's notification target, from any thread, which the receiver turns
 * into XA_Message records with control_win32_params_to_message on its own thread.
 *
 * A C interface with an opaque player handle and integer status codes (0 = success). */
#ifndef XAUDIO_H
#define XAUDIO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define XA_EXPORT __attribute__((visibility("default")))
#else
#define XA_EXPORT
#endif

/* API version reported by xaudio_get_version(XA_VERSION_ID_API): major in bits 16-23, minor
 * in bits 8-15. It rises whenever one of the player's entry points or a record changes;
 * receivers require it exactly. */
#define XA_API_VERSION_MAJOR 3
#define XA_API_VERSION_MINOR 9
/* Implementation version, xaudio_get_version(XA_VERSION_ID_IMPLEMENTATION), in the same bits.
 * Its minor rises when an entry point is added beside the player's set, which older
 * receivers do not look for: 1.1 added xaudio_audio_lock and xaudio_audio_unlock. */
#define XA_IMPLEMENTATION_VERSION_MAJOR 1
#define XA_IMPLEMENTATION_VERSION_MINOR 1
#define XA_VERSION_ID_IMPLEMENTATION 1
#define XA_VERSION_ID_API 2

/* Status codes. */
#define XA_SUCCESS 0
#define XA_FAILURE (-1)
#define XA_ERROR_OUT_OF_MEMORY (-2)
#define XA_ERROR_INVALID_PARAMETERS (-3)
#define XA_ERROR_INVALID_PLAYER (-4)
#define XA_ERROR_UNKNOWN_COMMAND (-5)
#define XA_ERROR_NO_INPUT (-6)
#define XA_ERROR_OPEN_FAILED (-7)
#define XA_ERROR_UNSUPPORTED_INPUT (-8)
#define XA_ERROR_DECODE_FAILED (-9)
#define XA_ERROR_OUTPUT_FAILED (-10)
#define XA_ERROR_WRITE_FAILED (-11)
#define XA_ERROR_NOT_SUPPORTED (-12)

/* Where notifications go: post() is called from the library's threads with a message
 * number (always 0x9000 or above), and two parameters that only
 * control_win32_params_to_message understands. */
typedef struct XA_NotifyTarget {
    void (*post)(void *context, unsigned message, uintptr_t wparam, intptr_t lparam);
    void *context;
} XA_NotifyTarget;

#define XA_NOTIFY_MESSAGE_BASE 0x9000u

typedef struct XA_Player XA_Player;

/* Command codes for control_message_send_*; the suffix of the entry point names the
 * arguments after the code (N none, I integer, S text, P pointer). */
enum {
    XA_MSG_COMMAND_SYNC = 2,                    /* N */
    XA_MSG_COMMAND_PING = 3,                    /* I tag */
    XA_MSG_COMMAND_PLAY = 4,                    /* N */
    XA_MSG_COMMAND_PAUSE = 5,                   /* N */
    XA_MSG_COMMAND_STOP = 6,                    /* N */
    XA_MSG_COMMAND_INPUT_SEEK = 7,              /* II offset, range: go to offset/range */
    XA_MSG_COMMAND_INPUT_OPEN = 8,              /* S path */
    XA_MSG_COMMAND_INPUT_CLOSE = 9,             /* N */
    XA_MSG_COMMAND_INPUT_SEND_MESSAGE = 10,     /* IPI type, data, size */
    XA_MSG_COMMAND_INPUT_ADD_FILTER = 11,       /* SI name, where */
    XA_MSG_COMMAND_INPUT_REMOVE_FILTER = 12,    /* SI */
    XA_MSG_COMMAND_INPUT_FILTERS_LIST = 13,     /* N */
    XA_MSG_COMMAND_INPUT_MODULE_REGISTER = 14,  /* S */
    XA_MSG_COMMAND_INPUT_MODULE_QUERY = 15,     /* I */
    XA_MSG_COMMAND_INPUT_MODULES_LIST = 16,     /* N */
    XA_MSG_COMMAND_OUTPUT_OPEN = 17,            /* S name: "wav:PATH" or "wavfd:N", a WAV file */
    XA_MSG_COMMAND_OUTPUT_CLOSE = 18,           /* N */
    XA_MSG_COMMAND_OUTPUT_SEND_MESSAGE = 19,    /* IPI */
    XA_MSG_COMMAND_OUTPUT_MUTE = 20,            /* N */
    XA_MSG_COMMAND_OUTPUT_UNMUTE = 21,          /* N */
    XA_MSG_COMMAND_OUTPUT_RESET = 22,           /* N */
    XA_MSG_COMMAND_OUTPUT_DRAIN = 23,           /* N */
    XA_MSG_COMMAND_OUTPUT_ADD_FILTER = 24,      /* SI */
    XA_MSG_COMMAND_OUTPUT_REMOVE_FILTER = 25,   /* SI */
    XA_MSG_COMMAND_OUTPUT_FILTERS_LIST = 26,    /* N */
    XA_MSG_COMMAND_OUTPUT_MODULE_REGISTER = 27, /* S */
    XA_MSG_COMMAND_OUTPUT_MODULE_QUERY = 28,    /* I */
    XA_MSG_COMMAND_OUTPUT_MODULES_LIST = 29,    /* N */
    XA_MSG_COMMAND_CODEC_SEND_MESSAGE = 30,     /* IPI */
    XA_MSG_COMMAND_CODEC_MODULE_REGISTER = 31,  /* S */
    XA_MSG_COMMAND_CODEC_MODULE_QUERY = 32,     /* I */
    XA_MSG_COMMAND_CODEC_MODULES_LIST = 33,     /* N */
    XA_MSG_SET_PLAYER_MODE = 34,                /* I */
    XA_MSG_GET_PLAYER_MODE = 35,
    XA_MSG_SET_PLAYER_ENVIRONMENT_INTEGER = 36, /* SI */
    XA_MSG_GET_PLAYER_ENVIRONMENT_INTEGER = 37, /* S */
    XA_MSG_SET_PLAYER_ENVIRONMENT_STRING = 38,  /* SS */
    XA_MSG_GET_PLAYER_ENVIRONMENT_STRING = 39,  /* S */
    XA_MSG_UNSET_PLAYER_ENVIRONMENT = 40,       /* S */
    XA_MSG_SET_INPUT_NAME = 41,                 /* S */
    XA_MSG_GET_INPUT_NAME = 42,
    XA_MSG_SET_INPUT_MODULE = 43, /* I */
    XA_MSG_GET_INPUT_MODULE = 44,
    XA_MSG_SET_INPUT_POSITION_RANGE = 45, /* I */
    XA_MSG_GET_INPUT_POSITION_RANGE = 46,
    XA_MSG_SET_INPUT_TIMECODE_GRANULARITY = 47, /* I */
    XA_MSG_GET_INPUT_TIMECODE_GRANULARITY = 48,
    XA_MSG_SET_OUTPUT_NAME = 49, /* S */
    XA_MSG_GET_OUTPUT_NAME = 50,
    XA_MSG_SET_OUTPUT_MODULE = 51, /* I */
    XA_MSG_GET_OUTPUT_MODULE = 52,
    /* III pcm level, balance (50 = centre), master level 0..100; -1 = unchanged */
    XA_MSG_SET_OUTPUT_VOLUME = 57,
    XA_MSG_GET_OUTPUT_VOLUME = 58,
    XA_MSG_SET_OUTPUT_CHANNELS = 59, /* I */
    XA_MSG_GET_OUTPUT_CHANNELS = 60,
    XA_MSG_SET_OUTPUT_PORTS = 61, /* I */
    XA_MSG_GET_OUTPUT_PORTS = 62,
    XA_MSG_SET_CODEC_QUALITY = 63, /* I */
    XA_MSG_GET_CODEC_QUALITY = 64,
    XA_MSG_SET_CODEC_EQUALIZER = 65, /* P XA_EqualizerInfo*, or null for none */
    XA_MSG_GET_CODEC_EQUALIZER = 66,
    XA_MSG_SET_NOTIFICATION_MASK = 69, /* I */
    XA_MSG_GET_NOTIFICATION_MASK = 70,
    XA_MSG_SET_DEBUG_LEVEL = 71, /* I */
    XA_MSG_GET_DEBUG_LEVEL = 72
};

/* Notification codes: the code of an XA_Message. */
enum {
    XA_MSG_NOTIFY_READY = 73,
    XA_MSG_NOTIFY_ACK = 74,
    XA_MSG_NOTIFY_NACK = 75,
    XA_MSG_NOTIFY_PONG = 76,
    XA_MSG_NOTIFY_EXITED = 77,
    XA_MSG_NOTIFY_PLAYER_STATE = 78,
    XA_MSG_NOTIFY_PLAYER_MODE = 79,
    XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER = 80,
    XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_STRING = 81,
    XA_MSG_NOTIFY_INPUT_STATE = 82,
    XA_MSG_NOTIFY_INPUT_NAME = 83,
    XA_MSG_NOTIFY_INPUT_CAPS = 84,
    XA_MSG_NOTIFY_INPUT_POSITION = 85,
    XA_MSG_NOTIFY_INPUT_POSITION_RANGE = 86,
    XA_MSG_NOTIFY_INPUT_TIMECODE = 87,
    XA_MSG_NOTIFY_INPUT_TIMECODE_GRANULARITY = 88,
    XA_MSG_NOTIFY_INPUT_MODULE = 89,
    XA_MSG_NOTIFY_INPUT_MODULE_INFO = 90,
    XA_MSG_NOTIFY_INPUT_DEVICE_INFO = 91,
    XA_MSG_NOTIFY_INPUT_FILTER_INFO = 92,
    XA_MSG_NOTIFY_OUTPUT_STATE = 93,
    XA_MSG_NOTIFY_OUTPUT_NAME = 94,
    XA_MSG_NOTIFY_OUTPUT_CAPS = 95,
    XA_MSG_NOTIFY_OUTPUT_VOLUME = 100,
    XA_MSG_NOTIFY_OUTPUT_BALANCE = 101,
    XA_MSG_NOTIFY_OUTPUT_PCM_LEVEL = 102,
    XA_MSG_NOTIFY_OUTPUT_MASTER_LEVEL = 103,
    XA_MSG_NOTIFY_OUTPUT_CHANNELS = 104,
    XA_MSG_NOTIFY_OUTPUT_PORTS = 105,
    XA_MSG_NOTIFY_OUTPUT_MODULE = 106,
    XA_MSG_NOTIFY_OUTPUT_MODULE_INFO = 107,
    XA_MSG_NOTIFY_OUTPUT_DEVICE_INFO = 108,
    XA_MSG_NOTIFY_OUTPUT_FILTER_INFO = 109,
    XA_MSG_NOTIFY_STREAM_MIME_TYPE = 110,
    XA_MSG_NOTIFY_STREAM_DURATION = 111,
    XA_MSG_NOTIFY_STREAM_PARAMETERS = 112,
    XA_MSG_NOTIFY_STREAM_PROPERTIES = 113,
    XA_MSG_NOTIFY_CODEC_QUALITY = 114,
    XA_MSG_NOTIFY_CODEC_EQUALIZER = 115,
    XA_MSG_NOTIFY_CODEC_MODULE = 116,
    XA_MSG_NOTIFY_CODEC_MODULE_INFO = 117,
    XA_MSG_NOTIFY_CODEC_DEVICE_INFO = 118,
    XA_MSG_NOTIFY_NOTIFICATION_MASK = 119,
    XA_MSG_NOTIFY_DEBUG_LEVEL = 120,
    XA_MSG_NOTIFY_PROGRESS = 121,
    XA_MSG_NOTIFY_DEBUG = 122,
    XA_MSG_NOTIFY_ERROR = 123
};

/* Values of the state notifications. */
enum {
    XA_PLAYER_STATE_STOPPED = 0,
    XA_PLAYER_STATE_PLAYING = 1,
    XA_PLAYER_STATE_PAUSED = 2,
    XA_PLAYER_STATE_EOS = 3
};
enum { XA_INPUT_STATE_OPEN = 0, XA_INPUT_STATE_CLOSED = 1 };
enum { XA_OUTPUT_STATE_OPEN = 0, XA_OUTPUT_STATE_CLOSED = 1 };

/* Where an error notification (123) comes from: its source byte. */
enum { XA_SOURCE_PLAYER = 0, XA_SOURCE_INPUT = 1, XA_SOURCE_OUTPUT = 2, XA_SOURCE_CODEC = 3 };

/* Codes of a progress notification (121) from the input: the stream ends before the end of
 * the file and the end of stream follows. The value is the seconds decoded up to there, the
 * message says where and why. */
enum { XA_PROGRESS_STREAM_FORMAT_CHANGED = 1, XA_PROGRESS_STREAM_UNDECODABLE = 2 };

/* Modules, for Set/GetInputModule and Set/GetOutputModule; -1 chooses by content or name. */
#define XA_MODULE_AUTO (-1)
enum { XA_INPUT_MODULE_MPEG = 0, XA_INPUT_MODULE_WAVE = 1 };
/* "wav:PATH" always names a WAV file; with XA_OUTPUT_MODULE_WAVE chosen, a plain name does too.
 * XA_OUTPUT_WAV_FD_PREFIX followed by a descriptor in decimal ("wavfd:7", since API 3.9) writes
 * the WAV file through that descriptor instead of opening a file by name: a regular file open
 * for writing and seeking (the header is written again at the end), which is emptied first.
 * The library takes its own duplicate while control_message_send_S runs, so the caller may
 * close its descriptor as soon as the call returns; one that is not open is refused at once
 * with XA_ERROR_INVALID_PARAMETERS. Only XA_MSG_COMMAND_OUTPUT_OPEN takes this form. */
#define XA_OUTPUT_WAV_FD_PREFIX "wavfd:"
enum { XA_OUTPUT_MODULE_SOUND = 0, XA_OUTPUT_MODULE_WAVE = 1 };

/* Bits of SetNotificationMask: a cleared bit silences the notifications the player sends by
 * itself. Answers to requests (Get..., Ping, Sync, and the Nack of a refused command) are
 * always sent. All bits are set at first. */
#define XA_NOTIFY_MASK_ERROR 0x0001u          /* 123 */
#define XA_NOTIFY_MASK_DEBUG 0x0002u          /* 122 */
#define XA_NOTIFY_MASK_PLAYER_STATE 0x0004u   /* 78 */
#define XA_NOTIFY_MASK_INPUT_STATE 0x0008u    /* 82 */
#define XA_NOTIFY_MASK_INPUT_NAME 0x0010u     /* 83 */
#define XA_NOTIFY_MASK_INPUT_POSITION 0x0020u /* 85 */
#define XA_NOTIFY_MASK_INPUT_TIMECODE 0x0040u /* 87 */
#define XA_NOTIFY_MASK_OUTPUT_STATE 0x0080u   /* 93 */
#define XA_NOTIFY_MASK_VOLUME 0x0100u         /* 100, 103 */
#define XA_NOTIFY_MASK_STREAM_INFO 0x0200u    /* 110, 111, 112 */
#define XA_NOTIFY_MASK_ALL 0xFFFFFFFFu

/* Player priorities for player_set_priority. */
enum {
    XA_PRIORITY_LOWEST = 0,
    XA_PRIORITY_LOW = 1,
    XA_PRIORITY_NORMAL = 2,
    XA_PRIORITY_HIGH = 3,
    XA_PRIORITY_HIGHEST = 4
};

typedef struct XA_Property {
    const char *name;
    int32_t type; /* 0 integer, 1 text */
    union {
        int32_t integer;
        const char *string;
    } value;
} XA_Property;

/* Gain of each of the 32 subbands per channel in tenths of a dB (-128 is -12.8 dB); it
 * applies to MPEG audio input. */
typedef struct XA_EqualizerInfo {
    int8_t left[32];
    int8_t right[32];
} XA_EqualizerInfo;

/* A decoded notification: the code, then the fields that code carries. Text pointers stay
 * valid until the next control_win32_params_to_message call for the same player, or until
 * the player is deleted; the receiver copies what it keeps. */
typedef struct XA_Message {
    int32_t code;
    /* One line per record, with the notification codes that carry it lined up beside it. */
    /* clang-format off */
    union {
        struct { uint8_t command; } ack;                                      /* 74 */
        struct { uint8_t command; uint8_t reserved; int16_t code; } nack;     /* 75 */
        struct { uint32_t tag; } pong;                                        /* 76 */
        struct { uint8_t state; } state;                                      /* 78, 82, 93 */
        struct { int32_t mode; } mode;                                        /* 79 */
        struct { const char *name; int32_t value; } environment_integer;      /* 80 */
        struct { const char *name; const char *value; } environment_string;   /* 81 */
        struct { const char *name; } name;                                    /* 83, 94, 110 */
        struct { uint32_t caps; } caps;                                       /* 84, 95 */
        struct { uint32_t offset; uint32_t range; } position;                 /* 85 */
        struct { int32_t range; } position_range;                             /* 86 */
        struct { uint8_t h, m, s, f; } timecode;                              /* 87 */
        struct { uint32_t granularity; } timecode_granularity;                /* 88 */
        struct { int16_t id; } module;                                        /* 89, 106, 116 */
        struct { uint8_t id; uint8_t nb_devices;
                 const char *name; const char *description; } module_info;    /* 90, 107, 117 */
        struct { uint8_t module_id; uint8_t index; uint8_t flags;
                 const char *name; const char *description; } device_info;    /* 91, 108, 118 */
        struct { const char *name; uint8_t id; } filter_info;                 /* 92, 109 */
        struct { uint8_t master_level; uint8_t pcm_level;
                 uint8_t balance; } volume;                                   /* 100..103 */
        struct { uint8_t channels; } channels;                                /* 104 */
        struct { uint8_t ports; } ports;                                      /* 105 */
        struct { uint32_t duration; } duration;                               /* 111, seconds */
        struct { uint32_t frequency; int16_t bitrate;
                 uint8_t nb_channels; } stream_parameters;                    /* 112 */
        struct { uint32_t nb_properties;
                 XA_Property *properties; } stream_properties;                /* 113 */
        struct { uint8_t quality; } quality;                                  /* 114 */
        struct { XA_EqualizerInfo *equalizer; } equalizer;                    /* 115 */
        struct { uint32_t mask; } notification_mask;                          /* 119 */
        struct { uint8_t level; } debug_level;                                /* 120 */
        struct { uint8_t source; uint8_t code; int16_t value;
                 const char *message; } progress;                             /* 121 */
        struct { uint8_t source; uint8_t level; const char *message; } debug; /* 122 */
        struct { uint8_t source; uint8_t reserved; int16_t code;
                 const char *message; } error;                                /* 123 */
        uint8_t raw[32];
    } data;
    /* clang-format on */
} XA_Message;

/* A handle names one player for good: once that player is deleted, the handle is refused with
 * XA_ERROR_INVALID_PLAYER, also after new players have been created. */
XA_EXPORT int player_new(XA_Player **player, const XA_NotifyTarget *target);
XA_EXPORT int player_delete(XA_Player *player);
XA_EXPORT int player_set_priority(XA_Player *player, int priority);
XA_EXPORT int player_get_priority(XA_Player *player);
XA_EXPORT const char *xaudio_error_string(int code);
XA_EXPORT unsigned long xaudio_get_version(int which);

XA_EXPORT int control_message_send_N(XA_Player *player, int code);
XA_EXPORT int control_message_send_P(XA_Player *player, int code, const void *ptr);
XA_EXPORT int control_message_send_S(XA_Player *player, int code, const char *str);
XA_EXPORT int control_message_send_SS(XA_Player *player, int code, const char *str1,
                                      const char *str2);
XA_EXPORT int control_message_send_SI(XA_Player *player, int code, const char *str, int i);
XA_EXPORT int control_message_send_IPI(XA_Player *player, int code, int i1, const void *ptr,
                                       int i2);
XA_EXPORT int control_message_send_I(XA_Player *player, int code, int i);
XA_EXPORT int control_message_send_II(XA_Player *player, int code, int i1, int i2);
XA_EXPORT int control_message_send_III(XA_Player *player, int code, int i1, int i2, int i3);
XA_EXPORT int control_message_send_IIII(XA_Player *player, int code, int i1, int i2, int i3,
                                        int i4);

/* The lock that the library holds around its calls to SDL's audio functions that change
 * SDL's global state (starting and stopping the audio subsystem, opening and closing a
 * device), which SDL does not guard itself. A program that makes such calls too, while the
 * library is loaded, holds the same lock around them. Not recursive; the library calls
 * nothing of the program's while holding it. */
XA_EXPORT void xaudio_audio_lock(void);
XA_EXPORT void xaudio_audio_unlock(void);

/* Turns a posted notification back into a record: 0 when (message, wparam, lparam) is one of
 * this player's notifications and *msg was filled, non-zero otherwise. */
XA_EXPORT int control_win32_params_to_message(XA_Player *player, XA_Message *msg, unsigned message,
                                              uintptr_t wparam, intptr_t lparam);

#ifdef __cplusplus
}
#endif

#endif
