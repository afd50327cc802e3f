/* The xBase engine's C interface.

   Plain functions over small integer handles and caller-owned buffers. Each
   operation returns a signed 16-bit status and leaves it as the engine's last
   error. The last error is sticky: while it is negative every operation
   returns it at once without doing anything, so a caller that wants an
   operation to run resets it first with kbdseterror(0).

   Thread contract: the engine keeps process-wide state and is not
   re-entrant. A process serialises all its engine calls.

   This header compiles as C and as C++; it uses no STL and no OS types. */
#ifndef QX_ENGINE_H_
#define QX_ENGINE_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. Values cross the host boundary and are shown to users:
   never renumber, never reuse. 0 success, 1..12 warnings, -1..-59 errors.
   An operating-system failure without a code of its own is
   (int16_t)(0xC000 | system error number). */
enum KbdStatus {
  /* Success and warnings: the operation did its work. */
  kKbdOk = 0,
  kKbdDeletedRecord = 1,      /* the record read is marked deleted */
  kKbdEmptyFile = 2,          /* the file holds no record or key */
  kKbdNoMoreKeys = 3,         /* walked past the last or first key */
  kKbdKeyNotFound = 4,        /* positioned on the greatest smaller key */
  kKbdFieldTruncated = 5,     /* a value did not fit its field */
  kKbdNumberRounded = 6,      /* a number lost decimals to fit */
  kKbdBadFileSize = 7,        /* file size disagrees with its header */
  kKbdUnbufferedFlush = 8,    /* flush of a file opened without buffer */
  kKbdPartialAlloc = 9,       /* memory granted only in part */
  kKbdUnsupported = 10,       /* function not supported for this file */
  kKbdAlreadyExists = 11,     /* the object exists already */
  kKbdKeyNotFoundEnd = 12,    /* not found, positioned past the last key */

  /* Errors: the operation did nothing or stopped part way. */
  kKbdErrWrite = -1,          /* cannot write the file */
  kKbdErrRead = -2,           /* cannot read the file, or short read */
  kKbdErrNoMemory = -3,       /* allocation failed */
  kKbdErrSeek = -4,           /* cannot move the file pointer */
  kKbdErrNoFile = -5,         /* the file does not exist */
  kKbdErrCorrupt = -6,        /* the file is corrupt */
  kKbdErrKeyExpression = -7,  /* bad key expression */
  kKbdErrNoHandle = -8,       /* no free handle or tag slot */
  kKbdErrNoPageLoaded = -9,   /* no index page loaded */
  kKbdErrPageNotLoaded = -10, /* the index page was not loaded */
  kKbdErrClose = -11,         /* closing the file failed */
  kKbdErrCommand = -12,       /* invalid command or argument value */
  kKbdErrHandle = -13,        /* invalid handle */
  kKbdErrFileName = -14,      /* invalid (empty) file name */
  kKbdErrDate = -15,          /* invalid date */
  kKbdErrTime = -16,          /* invalid time */
  kKbdErrNotMemo = -17,       /* the file is not a memo file */
  kKbdErrVersion = -18,       /* invalid dBase version byte */
  kKbdErrHeaderSize = -19,    /* invalid DBF header size */
  kKbdErrLastDate = -20,      /* invalid last-update date */
  kKbdErrNullPointer = -21,   /* a pointer argument is null */
  kKbdErrKeyType = -22,       /* invalid key type */
  kKbdErrKeySize = -23,       /* invalid key size */
  kKbdErrItemSize = -24,      /* invalid index item size */
  kKbdErrRootPage = -25,      /* invalid root page */
  kKbdErrMaxKeys = -26,       /* bad maximum number of keys per page */
  kKbdErrFieldCount = -27,    /* invalid number of fields */
  kKbdErrFieldName = -28,     /* invalid field name */
  kKbdErrFieldSize = -29,     /* invalid field size */
  kKbdErrDecimals = -30,      /* invalid decimals */
  kKbdErrFieldType = -31,     /* invalid field type */
  kKbdErrRecordSize = -32,    /* invalid record size */
  kKbdErrData = -33,          /* incorrect data */
  kKbdErrMemoLine = -34,      /* invalid memo line width */
  kKbdErrMdxFlag = -35,       /* invalid MDX flag in the DBF header */
  kKbdErrReadOnly = -36,      /* the file is open read-only */
  kKbdErrLockViolation = -37, /* the range is locked by another handle */
  kKbdErrBufferOverflow = -38,/* buffer overflow (lock table full) */
  kKbdErrPath = -39,          /* the path does not exist */
  kKbdErrAccessDenied = -40,  /* access to the file denied */
  kKbdErrAccessCode = -41,    /* invalid access code */
  kKbdErrNotLocked = -42,     /* the file is not locked */
  kKbdErrDiskChanged = -43,   /* the disk has changed */
  kKbdErrMinKeys = -44,       /* bad minimum number of keys per page */
  kKbdErrFilesOpen = -45,     /* some files are open */
  kKbdErrOpen = -46,          /* cannot open the file */
  kKbdErrFlush = -47,         /* flush failed */
  kKbdErrTagId = -48,         /* invalid tag identifier */
  kKbdErrPageSize = -49,      /* invalid page size in blocks */
  kKbdErrTagName = -50,       /* invalid tag name */
  kKbdErrOffsetAdder = -51,   /* invalid offset adder */
  kKbdErrIndexTableMax = -52, /* bad maximum entries of the index table */
  kKbdErrIndexTableItem = -53,/* bad entry size of the index table */
  kKbdErrTagCount = -54,      /* invalid number of tags */
  kKbdErrKeyFormat = -55,     /* unknown key format parameters */
  kKbdErrParameter = -56,     /* unknown parameter */
  kKbdErrTagInUse = -57,      /* tag in use */
  kKbdErrGlobalLock = -58,    /* memory lock failed */
  kKbdErrNoTask = -59         /* engine not started for this process */
};

/* Bits of a system-error status: 0xC000 | error number (low 14 bits). */
enum { kKbdSystemErrorBits = 0xC000, kKbdSystemErrorMask = 0x3FFF };

/* The open-mode word every open and create takes (unsigned 16-bit). */
enum KbdOpenMode {
  kKbdModeDialectMask = 0x00FF, /* low byte: the dialect, 0 taken as 1 */
  kKbdModeReadOnly = 0x0100,
  kKbdModeOption = 0x0200,      /* meaning per module; set after a pack */
  kKbdModeShared = 0x0400,
  kKbdModeSharedOption = 0x0800 /* stands for 0x0600; dropped with 0x0100 */
};

/* File families (dialects). On disk and across the host boundary: never
   renumber. */
enum KbdDialect {
  kKbdDbase3 = 1,
  kKbdDbase4 = 2,
  kKbdFoxbase = 3,
  kKbdFoxpro1 = 4,
  kKbdClipper = 5,
  kKbdClipper5 = 6,
  kKbdDbxl = 7,
  kKbdFoxpro2 = 8,
  kKbdOmnis = 9,
  kKbdVisualFoxpro = 10,
  kKbdDialectOther = 11 /* a family outside the table */
};

/* Kinds of the handle table's slots; 0 is a free slot. Never renumber. */
enum KbdHandleKind {
  kKbdKindFree = 0,
  kKbdKindDbf = 1,
  kKbdKindNdx = 2,
  kKbdKindDbt = 3,
  kKbdKindFpt = 4,
  kKbdKindMdx = 5,
  kKbdKindIdx = 6,
  kKbdKindNtx = 7,
  kKbdKindCdx = 8
};

enum {
  kKbdHandleSlots = 1019,     /* handles are 0..1018 */
  kKbdNoHandle = -1,
  kKbdDateFormatNameSize = 32 /* buffer for kbdgetdatefmt, NUL included */
};

/* One row of the dialect table: number and the name shown to users. */
typedef struct KbdDialectName {
  int16_t dialect;
  const char* name; /* ASCII */
} KbdDialectName;

/* Engine start and stop. Both kbdinit arguments are accepted and ignored
   (the component passes 32767 and 4). A second kbdinit runs kbdterm first,
   closing every file of the first. */
int16_t kbdinit(int16_t memory, int16_t files);
int16_t kbdterm(void);

/* The last error: read, and set (set returns the code it stored). Both
   answer -59 when the engine is not started. */
int16_t kbdgeterror(void);
int16_t kbdseterror(int16_t code);

/* The task's date format, 1..15 (default 4, yyyymmdd). kbdsetdatefmt
   returns the current last error; kbdgetdatefmt copies the format's name
   into name (at least kKbdDateFormatNameSize bytes). */
int16_t kbdsetdatefmt(uint16_t code);
int16_t kbdgetdatefmt(uint16_t* code, char* name);

/* The dialect table: *count rows, "Clip Summer 1987" a second row for 5. */
const KbdDialectName* kbddialects(int16_t* count);

/* Releases a buffer the engine handed out (memo texts, expression
   results). Null is allowed. Always 0; does not touch the last error. */
int16_t kbdfree(void* block);

/* Collation of character keys of NDX and MDX: returns 1 when byte order
   was on before the call, else 0; when set is non-zero the switch becomes
   bit 0 of value (1 byte order, 0 collation table). */
int16_t kbdsetsort(int16_t value, int16_t set);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QX_ENGINE_H_ */
