#pragma once
// The calling contract between TZipMaster and the two archive libraries,
// libzipdll.so (add, delete) and libunzdll.so (extract, test). Plain C so
// that either side can be rebuilt alone. Fields keep a fixed order; booleans
// are 32 bits, -1 for true and 0 for false; pointers are native width.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZIPDLL_TRUE (-1)
#define ZIPDLL_FALSE 0
#define ZIPDLL_VERSION 140
#define ZIPDLL_MAX_SELECTORS 4097
#define ZIPDLL_NAME_BUFFER 256
#define ZIPDLL_PASSWORD_BUFFER 81
#define ZIPDLL_TEXT_BUFFER 1024

/* Callback actions: progress of one file, a progress step, the end of one
   file, and (4 and above) a message for the user. The extraction library
   ends each member with its name, error code 0 when it was extracted (or
   tested) whole, and its index in the central directory as the file size. */
#define ZIPDLL_ACTION_FILE_START 1
#define ZIPDLL_ACTION_PROGRESS 2
#define ZIPDLL_ACTION_FILE_END 3
#define ZIPDLL_ACTION_MESSAGE 4

typedef struct TZipCallbackInfo {
    void* handle;
    void* caller;
    int32_t version;
    int32_t reserved;
    int32_t actionCode;
    int32_t errorCode;
    int64_t fileSize;
    char text[ZIPDLL_TEXT_BUFFER];
} TZipCallbackInfo;

/* Returns true (-1) to ask the library to cancel. */
/* With selectByIndex, a selector is the decimal index of a member's record in
   the central directory: a name may hold "*", "?" or a NUL byte, and only an
   index names exactly the member a row shows, never a look-alike. */

typedef int32_t (*ZipDllCallback)(TZipCallbackInfo* info);

typedef struct TZipParams {
    void* handle;
    void* caller;
    int32_t version;
    ZipDllCallback callback;
    int32_t trace;
    char* password;
    void* unused24;
    int32_t encrypt;
    int32_t hiddenFiles;
    int32_t unused36;
    int32_t unused40;
    int32_t unused44; /* true */
    int32_t unused48;
    int32_t verbose;
    int32_t unused56; /* true */
    int32_t level;
    int32_t unused64;
    int32_t unused68;
    int32_t dropDirNames;
    int32_t recurse;
    int32_t adding;
    int32_t forceDos;
    int32_t move;
    int32_t deleteEntries;
    int32_t update;
    int32_t freshen;
    int32_t selectByIndex; /* deleting: each selector is a member's index */
    int32_t latestTime;
    int64_t unused112;
    int32_t selectorCount;
    char* archiveName;
    int32_t seven; /* 7 */
    char* selectors[ZIPDLL_MAX_SELECTORS];
} TZipParams;

typedef struct TUnzipParams {
    void* handle;
    void* caller;
    int32_t version;
    ZipDllCallback callback;
    int32_t trace;
    void* unused20;
    char* password;
    int32_t testOnly;
    int32_t selectByIndex; /* each selector is a member's index */
    int32_t unused36;
    int32_t unused40; /* true */
    int32_t verbose;
    int32_t update;
    int32_t freshen;
    int32_t keepDirNames;
    int32_t overwrite;
    int32_t selectorCount;
    char* archiveName;
    int32_t seven; /* 7 */
    char* selectors[ZIPDLL_MAX_SELECTORS];
} TUnzipParams;

typedef int32_t (*ZipDllExecFunc)(TZipParams* params);
typedef int32_t (*UnzDllExecFunc)(TUnzipParams* params);
typedef int32_t (*ZipDllVersionFunc)(void);

#ifdef __cplusplus
}
#endif
