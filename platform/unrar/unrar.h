#ifndef TARNEL_UNRAR_H
#define TARNEL_UNRAR_H
/* The C interface of libunrar.so: open an archive, read member headers one
 * by one and skip, test or extract each. Integers are 32-bit; texts are
 * zero-terminated bytes; pointers have the platform's width. */

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ERAR_SUCCESS = 0,
    ERAR_END_ARCHIVE = 10,   /* no more members: the normal end */
    ERAR_NO_MEMORY = 11,
    ERAR_BAD_DATA = 12,      /* checksum mismatch, damaged member data */
    ERAR_BAD_ARCHIVE = 13,   /* damaged headers, not an archive, sequence error */
    ERAR_UNKNOWN_FORMAT = 14,/* a compression method that cannot be unpacked */
    ERAR_EOPEN = 15,         /* the archive ends early, or cannot be opened */
    ERAR_ECREATE = 16,       /* a member cannot be created, or is refused because
                                it would land outside the destination */
    ERAR_EWRITE = 19,        /* writing failed (full disk, quota): nothing left under the member's name */
    ERAR_EREFERENCE = 23     /* a hard link whose target this extraction did not make inside the
                                destination: not made */
};

enum { RAR_OM_LIST = 0, RAR_OM_EXTRACT = 1 };
enum { RAR_SKIP = 0, RAR_TEST = 1, RAR_EXTRACT = 2 };

struct RAROpenArchiveData {
    char* ArcName;
    unsigned int OpenMode;
    unsigned int OpenResult;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
};

struct RARHeaderData {
    char ArcName[260];
    char FileName[260];
    unsigned int Flags;        /* 0xE0 in the directory bits for a directory */
    unsigned int PackSize;     /* low 32 bits */
    unsigned int UnpSize;      /* low 32 bits */
    unsigned int HostOS;
    unsigned int FileCRC;
    unsigned int FileTime;     /* packed DOS date and time, local */
    unsigned int UnpVer;
    unsigned int Method;
    unsigned int FileAttr;     /* Unix mode bits */
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    /* Members of 4 GiB and more: the high 32 bits of the two sizes. */
    unsigned int PackSizeHigh;
    unsigned int UnpSizeHigh;
};

/* The change-volume callback. RAR_VOL_ASK: the next volume is not found under
 * ArcName; the callback may write another name there (a buffer of
 * RAR_VOL_NAME_SIZE bytes) and return 0 or more to try it, or return a
 * negative value to give up: the member then ends with ERAR_EOPEN.
 * RAR_VOL_NOTIFY: reading goes on in ArcName; a negative value stops it. */
enum { RAR_VOL_ASK = 0, RAR_VOL_NOTIFY = 1 };
enum { RAR_VOL_NAME_SIZE = 4096 };
typedef int (*RARChangeVolProc)(char* ArcName, int Mode);

void* RAROpenArchive(struct RAROpenArchiveData* data);
int RARCloseArchive(void* handle);
int RARReadHeader(void* handle, struct RARHeaderData* header);
int RARProcessFile(void* handle, int operation, char* destPath, char* destName);
void RARSetChangeVolProc(void* handle, RARChangeVolProc proc);

#ifdef __cplusplus
}
#endif

#endif
