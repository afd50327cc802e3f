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
  kKbdDeletedRecord = 1,   /* the record read is marked deleted */
  kKbdEmptyFile = 2,       /* the file holds no record or key */
  kKbdNoMoreKeys = 3,      /* walked past the last or first key */
  kKbdKeyNotFound = 4,     /* positioned on the greatest smaller key */
  kKbdFieldTruncated = 5,  /* a value did not fit its field */
  kKbdNumberRounded = 6,   /* a number lost decimals to fit */
  kKbdBadFileSize = 7,     /* file size disagrees with its header */
  kKbdUnbufferedFlush = 8, /* flush of a file opened without buffer */
  kKbdPartialAlloc = 9,    /* memory granted only in part */
  kKbdUnsupported = 10,    /* function not supported for this file */
  kKbdAlreadyExists = 11,  /* the object exists already */
  kKbdKeyNotFoundEnd = 12, /* not found, positioned past the last key */

  /* Errors: the operation did nothing or stopped part way. */
  kKbdErrWrite = -1,           /* cannot write the file */
  kKbdErrRead = -2,            /* cannot read the file, or short read */
  kKbdErrNoMemory = -3,        /* allocation failed */
  kKbdErrSeek = -4,            /* cannot move the file pointer */
  kKbdErrNoFile = -5,          /* the file does not exist */
  kKbdErrCorrupt = -6,         /* the file is corrupt */
  kKbdErrKeyExpression = -7,   /* bad key expression */
  kKbdErrNoHandle = -8,        /* no free handle or tag slot */
  kKbdErrNoPageLoaded = -9,    /* no index page loaded */
  kKbdErrPageNotLoaded = -10,  /* the index page was not loaded */
  kKbdErrClose = -11,          /* closing the file failed */
  kKbdErrCommand = -12,        /* invalid command or argument value */
  kKbdErrHandle = -13,         /* invalid handle */
  kKbdErrFileName = -14,       /* invalid (empty) file name */
  kKbdErrDate = -15,           /* invalid date */
  kKbdErrTime = -16,           /* invalid time */
  kKbdErrNotMemo = -17,        /* the file is not a memo file */
  kKbdErrVersion = -18,        /* invalid dBase version byte */
  kKbdErrHeaderSize = -19,     /* invalid DBF header size */
  kKbdErrLastDate = -20,       /* invalid last-update date */
  kKbdErrNullPointer = -21,    /* a pointer argument is null */
  kKbdErrKeyType = -22,        /* invalid key type */
  kKbdErrKeySize = -23,        /* invalid key size */
  kKbdErrItemSize = -24,       /* invalid index item size */
  kKbdErrRootPage = -25,       /* invalid root page */
  kKbdErrMaxKeys = -26,        /* bad maximum number of keys per page */
  kKbdErrFieldCount = -27,     /* invalid number of fields */
  kKbdErrFieldName = -28,      /* invalid field name */
  kKbdErrFieldSize = -29,      /* invalid field size */
  kKbdErrDecimals = -30,       /* invalid decimals */
  kKbdErrFieldType = -31,      /* invalid field type */
  kKbdErrRecordSize = -32,     /* invalid record size */
  kKbdErrData = -33,           /* incorrect data */
  kKbdErrMemoLine = -34,       /* invalid memo line width */
  kKbdErrMdxFlag = -35,        /* invalid MDX flag in the DBF header */
  kKbdErrReadOnly = -36,       /* the file is open read-only */
  kKbdErrLockViolation = -37,  /* the range is locked by another handle */
  kKbdErrBufferOverflow = -38, /* buffer overflow (lock table full) */
  kKbdErrPath = -39,           /* the path does not exist */
  kKbdErrAccessDenied = -40,   /* access to the file denied */
  kKbdErrAccessCode = -41,     /* invalid access code */
  kKbdErrNotLocked = -42,      /* the file is not locked */
  kKbdErrDiskChanged = -43,    /* the disk has changed */
  kKbdErrMinKeys = -44,        /* bad minimum number of keys per page */
  kKbdErrFilesOpen = -45,      /* some files are open */
  kKbdErrOpen = -46,           /* cannot open the file */
  kKbdErrFlush = -47,          /* flush failed */
  kKbdErrTagId = -48,          /* invalid tag identifier */
  kKbdErrPageSize = -49,       /* invalid page size in blocks */
  kKbdErrTagName = -50,        /* invalid tag name */
  kKbdErrOffsetAdder = -51,    /* invalid offset adder */
  kKbdErrIndexTableMax = -52,  /* bad maximum entries of the index table */
  kKbdErrIndexTableItem = -53, /* bad entry size of the index table */
  kKbdErrTagCount = -54,       /* invalid number of tags */
  kKbdErrKeyFormat = -55,      /* unknown key format parameters */
  kKbdErrParameter = -56,      /* unknown parameter */
  kKbdErrTagInUse = -57,       /* tag in use */
  kKbdErrGlobalLock = -58,     /* memory lock failed */
  kKbdErrNoTask = -59,         /* engine not started for this process */

  /* Internal failures of the FoxPro index modules, without message text. */
  kKbdErrNodeCache = -5000, /* CDX node cache inconsistent */
  kKbdErrIdxCache = -5001,  /* IDX page cache inconsistent */
  kKbdErrRecnoWidth = -6000 /* record number wider than a CDX leaf's
                                 field of more than 23 bits */
};

/* Bits of a system-error status: 0xC000 | error number (low 14 bits). */
enum { kKbdSystemErrorBits = 0xC000, kKbdSystemErrorMask = 0x3FFF };

/* The open-mode word every open and create takes (unsigned 16-bit). */
enum KbdOpenMode {
  kKbdModeDialectMask = 0x00FF, /* low byte: the dialect, 0 taken as 1 */
  kKbdModeReadOnly = 0x0100,
  kKbdModeOption = 0x0200, /* meaning per module; set after a pack */
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

/* The key type word of every index create and build call (kbdncreate,
   kbdnindex, kbdmtagdef, kbdmindex, kbdxcreate..., kbdicreate...,
   kbdctagcreate...): the key type letter in the low 7 bits, with these
   flags; the index descriptions (kbdninfo's unique word, kbdmtaginfo,
   kbdxinfo, kbdiinfo, kbdctaginfo) report the same bits. Stored in index
   headers and handed across the host boundary: never renumber. Which
   family takes which flag is said at its create call. */
enum KbdKeyTypeFlags {
  kKbdKeyUnique = 0x0080,     /* one entry per key, the first record's */
  kKbdKeyDescending = 0x0100, /* keys in descending order */
  kKbdKeyCompact = 0x0400,    /* IDX: the compact layout */
  /* In FoxPro descriptions only (kbdiinfo, kbdctaginfo), with 0x80: a
     candidate key of Visual FoxPro, which refuses a second record of a key
     instead of leaving it out, so every record has an entry. */
  kKbdKeyCandidate = 0x0800
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
  kKbdHandleSlots = 1019, /* handles are 0..1018 */
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

/* ------------------------------------------------------------------------
   DBF data files (handle kind 1). */

/* In C++ the extension members start at zero, so that brace lists naming
   only the first five stay complete. */
#ifdef __cplusplus
#define QX_KBD_ZERO = 0
#else
#define QX_KBD_ZERO
#endif

/* Field definition record, exchanged by create, describe and pack. The
   last three members are our extension for Visual FoxPro autoincrement
   fields; a zero-filled record leaves them out. */
typedef struct KbdFieldDef {
  char name[12];   /* NUL-terminated, at most 10 characters */
  uint16_t type;   /* type character, either case on input */
  uint16_t length; /* bytes in the record */
  uint16_t decimals;
  uint16_t flags; /* descriptor byte 18 (Visual FoxPro): 0x01 system
                        column, 0x02 nullable, 0x04 binary (no code page
                        translation), 0x08 autoincrement */
  uint32_t next_value QX_KBD_ZERO; /* autoincrement: the value the next
                                      record gets */
  uint16_t step QX_KBD_ZERO;       /* autoincrement step, 1..255; on
                                       create a step of 0 means next value
                                       1 and step 1 */
  uint16_t reserved QX_KBD_ZERO;   /* 0 */
} KbdFieldDef;

/* Field flags of the definition record (Visual FoxPro; kbddcreate ignores
   them in the other dialects). On disk: never renumber. */
enum KbdFieldFlags {
  kKbdFieldSystem = 0x01,
  kKbdFieldNullable = 0x02,
  kKbdFieldBinary = 0x04,
  kKbdFieldAutoIncrement = 0x08
};

/* What qxdb info and the access layer need of an open data file (our
   addition). */
typedef struct KbdDbfInfo {
  int16_t dialect;       /* 1..10, 9 also for a 0x0D descriptor slot */
  uint8_t version;       /* header byte 0 */
  uint8_t mdx_flag;      /* header byte 28 */
  uint32_t record_count; /* as held in memory */
  uint16_t header_size;  /* bytes */
  uint16_t record_size;  /* bytes, deletion flag included */
  int16_t field_count;
  int16_t has_memo;    /* 1 when a field needs a memo file */
  int16_t update_year; /* last update, 1900 + header byte 1 */
  int16_t update_month;
  int16_t update_day;
} KbdDbfInfo;

enum {
  kKbdWriteAppend = 0,   /* kbddwrite mode: append the record buffer */
  kKbdWriteRewrite = 256 /* kbddwrite mode: write record *recno */
};

/* Record-lock modes of kbddlockrec. */
enum { kKbdLockRecTest = 5, kKbdLockRecUnlock = 6, kKbdLockRec = 7 };

int16_t kbddopenx(int16_t* handle, const char* name, uint16_t mode);
int16_t kbddclose(int16_t handle);
/* Creates an empty data file of the dialect (1..10; 0x200 is dropped) and
   closes it. In dialect 10 (Visual FoxPro) the definitions' flags count:
   0x02 nullable (any type), 0x04 binary (C, M, V, G; always set on I, B,
   Y, T, W, Q), 0x08 autoincrement (I, not nullable; next value and step);
   a hidden _NullFlags column is added when a field is nullable or V/Q,
   unless the definitions hold it as a system column. The memo file is the
   caller's to create. */
int16_t kbddcreate(const char* name, int16_t field_count,
                   const KbdFieldDef* fields, uint16_t dialect);
int16_t kbddread(int16_t handle, uint32_t recno);
int16_t kbddwrite(int16_t handle, uint32_t* recno, uint16_t mode);
int16_t kbdddelete(int16_t handle, uint32_t recno);
int16_t kbddrecall(int16_t handle, uint32_t recno);
int16_t kbddisdeleted(int16_t handle);
int16_t kbddreccount(int16_t handle, uint32_t* count);
int16_t kbddrecno(int16_t handle, uint32_t* recno);
int16_t kbddrecinfo(int16_t handle, uint8_t** buffer, uint16_t* record_size,
                    int16_t* field_count);
/* fields: room for one record per field. */
int16_t kbddfields(int16_t handle, uint16_t* largest_length,
                   KbdFieldDef* fields);
int16_t kbddfieldno(int16_t handle, int16_t* number, const char* name);
/* Field values by type: C, V, D text (char*, field length + 1 bytes; D the
   date in the current format, up to 10 characters + NUL: 11 bytes); N, F,
   B, Y double*; L char* (1, 0 or '?'); M, P uint32_t* block number; I
   int32_t*; T char* (18 bytes, YYYYMMDDHHMMSSmmm); Q uint8_t* (16-bit
   little-endian length, then the bytes); G, W unchanged. */
int16_t kbddget(int16_t handle, int16_t field, void* value);
int16_t kbddput(int16_t handle, int16_t field, const void* value);
int16_t kbddlock(int16_t handle, int16_t mode);
int16_t kbddlockrec(int16_t handle, uint32_t recno, int16_t mode);
int16_t kbddunlock(int16_t handle, int16_t mode);
/* Packs the data file; *handle is closed and replaced by the reopened
   file's handle. */
int16_t kbddpack(int16_t* handle);
/* Our addition: sets (on != 0) or clears bit 0x01 of header byte 28, the
   flag that has dBASE IV open the production MDX file and FoxPro and Visual
   FoxPro the structural CDX file with the table; the byte's other bits stay.
   -12 in the dialects without a production index (1, 3, 5..7, 9), -36 on
   a read-only handle. */
int16_t kbddsetindexflag(int16_t handle, int16_t on);
int16_t kbddinfo(int16_t handle, KbdDbfInfo* info);
/* Our addition: the name the data file was opened with, NUL-terminated,
   into name (size bytes; -38 when it does not fit). */
int16_t kbddname(int16_t handle, char* name, uint16_t size);
/* Our extension: 1 (the default) flushes every write to disk; 0 flushes
   at close and at every file or record unlock. Returns the previous
   setting. Not a status; the last error is untouched. */
int16_t kbdsetsync(int16_t on);
/* Our addition: 2 when the field's null bit is set (Visual FoxPro), 1
   when the field of the record buffer is blank (text and numbers: only
   blanks, or blanks then a NUL; D: a first byte blank or NUL; T: a day
   word of 0 or four blanks; Visual FoxPro binary memo numbers: 0 or four
   blanks; I, B, Y, Q: never), else 0; a negative status on errors. The last
   error is 0 after success. */
int16_t kbddisblank(int16_t handle, int16_t field);
/* Our addition: empties the record buffer for a new record: deletion flag
   blank, text fields blanks, binary fields (I B Y T Q, Visual FoxPro memo
   numbers, system columns) zeros, every nullable field null. */
int16_t kbddblankrec(int16_t handle);
/* Our addition: the memo block number of any field pointing into the memo
   file (M, P, G, W; B outside Visual FoxPro), 0 when blank or null; and
   its setter (clears the null bit). Other types: -31. kbddget leaves G and
   W untouched, so readers and pack use these. */
int16_t kbddmemoblock(int16_t handle, int16_t field, uint32_t* block);
int16_t kbddsetmemoblock(int16_t handle, int16_t field, uint32_t block);
/* Our addition: copies the field's bytes as stored (out: room for the
   field length) and sets *length to the field length. */
int16_t kbddgetraw(int16_t handle, int16_t field, char* out, uint16_t* length);

/* ------------------------------------------------------------------------
   Memo files: DBT (kind 3) and FPT (kind 4). Texts read are engine memory,
   NUL-terminated, released with kbdfree. */

enum {
  kKbdMemoReplace = 0x0100
}; /* kbdtwrite mode: replace; low byte the
                                      line width (0 or 10..132) */

int16_t kbdtcreate(const char* name, int16_t block_factor, uint16_t dialect);
int16_t kbdtopenx(int16_t* handle, const char* name, uint16_t mode);
int16_t kbdtread(int16_t handle, uint32_t block, char** text);
int16_t kbdtwrite(int16_t handle, uint32_t* block, const char* text,
                  uint16_t mode);
int16_t kbdtpack(int16_t dbf_handle, int16_t* memo_handle);
int16_t kbdtclose(int16_t handle);

int16_t kbdfcreate(const char* name, int16_t block_size);
int16_t kbdfopenx(int16_t* handle, const char* name, uint16_t mode);
int16_t kbdfread(int16_t handle, uint32_t block, char** text);
int16_t kbdfwrite(int16_t handle, uint32_t* block, const char* text);
int16_t kbdfpack(int16_t dbf_handle, int16_t* memo_handle);
int16_t kbdfclose(int16_t handle);

/* Our extensions. Binary forms, whose values may hold NUL bytes: *length
   gets the bytes read, the data is NUL-terminated too (engine memory,
   released with kbdfree). kbdtreadx: dBase IV layout the stored length
   - 8, dBase III layout the bytes up to the first 0x1A. kbdfreadx also
   gives the FPT type word; kbdfwritex appends a value of any type (0
   binary picture, 1 text, 2 object) and length. */
int16_t kbdtreadx(int16_t handle, uint32_t block, char** data,
                  uint32_t* length);
int16_t kbdfreadx(int16_t handle, uint32_t block, char** data, uint32_t* length,
                  uint32_t* type);
int16_t kbdfwritex(int16_t handle, uint32_t* block, const char* data,
                   uint32_t length, uint32_t type);
/* Our addition: the memo file of the data file data_name in dialect 1..10
   (ours: the naming rule callers share). ".dbt" beside the data file, or
   for the FoxPro dialects 4, 8 and 10 ".fpt", and for the other FoxPro
   files stored as tables their own companion (.scx .sct, .vcx .vct, .frx
   .frt, .lbx .lbt, .mnx .mnt, .pjx .pjt, .dbc .dct); the extension takes
   the case of the data file's. memo_name gets the NUL-terminated name
   (size bytes of room), *kind kKbdKindDbt or kKbdKindFpt. -21 null
   argument, -12 unknown dialect, -38 name longer than size - 1. */
int16_t kbdmemoname(const char* data_name, uint16_t dialect, char* memo_name,
                    uint16_t size, uint8_t* kind);
/* Block size in bytes and next free block, read from the file. */
int16_t kbdtinfo(int16_t handle, uint32_t* block_size, uint32_t* next_free);
int16_t kbdfinfo(int16_t handle, uint32_t* block_size, uint32_t* next_free);

/* ------------------------------------------------------------------------
   NDX index files (kind 2): one key expression, a B+-tree of 512-byte
   pages. A shared index file (0x400) is locked for the length of each
   call: a change holds a byte of the file exclusively, a read shared, so
   that processes take turns and no read sees a change half made (a call
   that cannot have the byte within 5 seconds fails with -37). Every call
   re-reads the file's root and page count and writes changed pages at
   once, so handles and processes see each other's changes at their next
   call.

   Key buffers hold key length + 1 bytes. Character keys are text: on
   input up to the key length or the first NUL; on output the stored key
   (blank-padded) and a NUL. Numeric and date keys are the 8 bytes of a
   double, least significant byte first (a date is its key day number, an
   empty date 1.0e100), followed by a NUL on output.

   Positioning operations (first, last, next, previous, current, find)
   copy the key and record number they land on into the caller's buffer
   and out argument and keep them as the handle's current key; next,
   previous and current search for that pair again. Statuses besides
   errors: 2 the index is empty, 3 no key beyond the end (positioned on
   the last or first key), 4 key not found (positioned on the greatest
   smaller key; with no current key: nothing done), 12 every key greater
   than the one sought (positioned on the first key). */

/* kbdnkfind flags. */
enum KbdNdxFindFlags {
  kKbdFindFirstEqual = 0x01, /* the first equal key (the default search) */
  kKbdFindRecno = 0x02,      /* key and record number must both match;
                                equal keys are ordered by record number */
  kKbdFindWildcard = 0x80    /* '?' in a character search key matches any
                                byte */
};

/* Description of an open index (kbdninfo). */
typedef struct KbdNdxInfo {
  char name[261];             /* file name as opened, NUL-terminated */
  uint16_t flags;             /* bit 0 read-only, bit 1 shared, bit 2
                                 copies bit 1 of the file flags (0) */
  uint16_t key_length;        /* bytes */
  char type;                  /* 'C' character, 'N' numeric or date */
  uint16_t unique;            /* kKbdKeyUnique, else 0 */
  uint8_t status;             /* 0 */
  uint16_t expression_length; /* of the whole expression */
  char expression[100];       /* its first 99 characters and a NUL */
} KbdNdxInfo;

/* Opens an existing index. mode: low byte the dialect (0, 1, 2 or 7,
   else -18), 0x100 read-only, 0x400 shared, 0x800 as 0x600 (dropped with
   0x100). A file whose size is not its page count * 512 opens with
   warning 7. On failure *handle is -1. */
int16_t kbdnopenx(int16_t* handle, const char* name, uint16_t mode);
/* Creates an empty index (1,024 bytes; not opened). type: the letter 'C',
   'N' or 'D' in either case, | kKbdKeyUnique; 'N' and 'D' keys
   are 8 bytes whatever key_length says, 'C' keys 1..100 (-23). The
   expression is stored upper-cased without blanks, at most 220
   characters (-7). */
int16_t kbdncreate(const char* name, uint16_t type, const char* expression,
                   uint16_t key_length);
/* Creates the index as kbdncreate does and fills it with one key per
   record of the data file (deleted records included), sorting through
   the work file "stacks.tmp" of the current directory; the data file is
   locked (mode 2) meanwhile. The index is left closed; a failed build
   deletes it. An index file another handle has open is not replaced
   (-37). */
int16_t kbdnindex(int16_t dbf_handle, const char* name, uint16_t type,
                  const char* expression, uint16_t key_length);
/* Gives the pages freed through this handle back (the file shrinks) and
   closes. */
int16_t kbdnclose(int16_t handle);
int16_t kbdnkfirst(int16_t handle, void* key, uint32_t* recno);
int16_t kbdnklast(int16_t handle, void* key, uint32_t* recno);
int16_t kbdnknext(int16_t handle, void* key, uint32_t* recno);
int16_t kbdnkprev(int16_t handle, void* key, uint32_t* recno);
int16_t kbdnkcur(int16_t handle, void* key, uint32_t* recno);
/* key: in the key sought, out the key found (key length + 1 bytes).
   *recno: in the record number (with kKbdFindRecno), out the one found.
   Without kKbdFindRecno a character key shorter than the key length is a
   prefix. */
int16_t kbdnkfind(int16_t handle, void* key, uint32_t* recno, uint16_t flags);
/* Adds or removes a (key, record number) pair; recno 0 is -12, a
   read-only file -36. A unique index holds one entry per key, the first
   record's: an add of a key already present answers 11 and writes
   nothing. kbdnkdel removes the exact pair only (in a unique index too);
   it answers 4 (or 2) and changes nothing when the pair is not there. */
int16_t kbdnkadd(int16_t handle, const void* key, uint32_t recno);
int16_t kbdnkdel(int16_t handle, const void* key, uint32_t recno);
/* The key of the data file's current record for this index: *key is
   engine memory (key length + 1 bytes, released with kbdfree), null on
   failure. An expression whose type does not suit the index (text for a
   numeric index, a number or date for a character one, 'F') is -7. */
int16_t kbdnkmake(int16_t dbf_handle, int16_t handle, void** key);
/* Copies the expression (NUL-terminated, at most 221 bytes). */
int16_t kbdnexpr(int16_t handle, char* buffer);
int16_t kbdninfo(int16_t handle, KbdNdxInfo* info);

/* ------------------------------------------------------------------------
   MDX multiple index files (kind 5): up to 47 tags over one data file,
   each tag a B+-tree of its own key expression, in blocks of 1,024 bytes
   (files of other writers: 512 to 16,384). Shared as NDX files are: every
   call, under the file's lock, re-reads the file's block count and free
   chain (and a tag's root), and writes changed pages at once. Tag
   definitions, deletions and opens read the tag table again.

   A tag handle is 32-bit: tag number * 65536 + MDX file handle; -1 is no
   tag. Tags are numbered 1..N in the order they were defined; deleting a
   tag moves the last tag into its number (an open tag moves with it, so a
   handle naming the old number then answers -48; a deletion by another
   handle is seen at this handle's next tag definition, deletion or open,
   which also closes a tag that handle deleted).

   Key buffers hold key length + 1 bytes, as for NDX. 'C' keys are text
   (blank-padded, NUL-terminated on output), ordered under the collation
   switch; 'D' keys the 8 bytes of a double holding the key day number
   (an empty date 1.0e100), least significant byte first; 'N' keys the 12
   bytes of packed decimal that kbdmnkey makes. Keys are ascending in
   every tag; the descending flag is only recorded. Positioning, find
   flags and statuses are those of NDX (kKbdFind..., 2, 3, 4, 12). */

/* kbdmtagdef and kbdmindex type word: the letter 'C', 'D' or 'N' in either
   case, | kKbdKeyUnique, | kKbdKeyDescending. */

/* Description of an open MDX file (kbdminfo). */
typedef struct KbdMdxInfo {
  uint16_t tag_count; /* N */
  uint16_t flags;     /* bit 0 read-only, bit 1 shared, bit 2 copies bit 1
                          of the file flags (0) */
  char name[261];     /* file name as opened, NUL-terminated */
  uint8_t status;     /* 0 */
} KbdMdxInfo;

/* Description of an open tag (kbdmtaginfo). */
typedef struct KbdMdxTagInfo {
  char name[11];              /* NUL-terminated, upper case */
  uint16_t key_length;        /* bytes: 1..100 'C', 8 'D', 12 'N' */
  char type;                  /* 'C', 'D' or 'N' */
  uint16_t flags;             /* kKbdKeyUnique | kKbdKeyDescending */
  uint16_t expression_length; /* of the whole expression */
  char expression[100];       /* its first 99 characters and a NUL */
} KbdMdxTagInfo;

/* Creates an MDX file without tags (2,048 bytes; not opened). The first
   8 characters of the base name of name (no directory, no extension) are
   recorded as the data file's. */
int16_t kbdmcreate(const char* name);
/* Opens an MDX file. mode: low byte 0 or 2 (else -18), 0x100 read-only,
   0x400 shared, 0x800 as 0x600. Header checks in order: version (-18),
   block factor 1..32 (-49), block size (-51), tag table size (-52, -53),
   tag count (-54), block count (-19). A file whose size is not its
   sector count * 512 opens with warning 7. On failure *handle is -1. */
int16_t kbdmopenx(int16_t* handle, const char* name, uint16_t mode);
/* Closes the open tags and the file (recording the date of the last
   update when anything was written). */
int16_t kbdmclose(int16_t handle);
/* Defines an empty tag, replacing a closed tag of the same name (-57 when
   that tag is open). name: 1..10 characters (-50); type: letter | flags;
   'C' keys 1..100 bytes (-23), 'D' and 'N' keys 8 and 12 bytes whatever
   key_length says; other letters -22; expression stored upper-cased
   without blanks, at most 220 characters (-7). A 48th tag is -8. The
   tag's blocks come from the free chain first. */
int16_t kbdmtagdef(int16_t handle, const char* name, uint16_t type,
                   const char* expression, uint16_t key_length);
/* Defines the tag as kbdmtagdef does and fills it with one key per record
   of the data file (deleted records included), sorting through the work
   file "stacks.tmp" of the current directory; the data file is locked
   (mode 2) meanwhile. The tag is left closed; a failed build deletes it.
   Equal keys lie in record order; a unique tag keeps the first record of
   each key. */
int16_t kbdmindex(int16_t dbf_handle, int16_t handle, const char* name,
                  uint16_t type, const char* expression, uint16_t key_length);
/* Opens a tag by name (without regard to case; -50 when there is none) or
   by number 0..N (-50 outside). Opening an open tag gives its handle
   again. Tag header checks in order: key length (-23), item length (-24),
   root (-25), keys per block (-26), expression (-7), key format (-55), key
   type (-22). On failure *tag is -1. */
int16_t kbdmtagopen(int32_t* tag, int16_t handle, const char* name);
int16_t kbdmtagopenn(int32_t* tag, int16_t handle, int16_t number);
/* Closes a tag; -48 when the handle names no open tag. */
int16_t kbdmtagclose(int32_t tag);
/* Deletes a closed tag (-57 when open, -50 when there is no such tag) and
   puts its blocks on the free chain. */
int16_t kbdmtagdel(int16_t handle, const char* name);
int16_t kbdmkfirst(int32_t tag, void* key, uint32_t* recno);
int16_t kbdmklast(int32_t tag, void* key, uint32_t* recno);
int16_t kbdmknext(int32_t tag, void* key, uint32_t* recno);
int16_t kbdmkprev(int32_t tag, void* key, uint32_t* recno);
int16_t kbdmkcur(int32_t tag, void* key, uint32_t* recno);
/* As kbdnkfind; '?' (kKbdFindWildcard) applies to 'C' tags only. */
int16_t kbdmkfind(int32_t tag, void* key, uint32_t* recno, uint16_t flags);
/* As kbdnkadd and kbdnkdel (recno 0 -12, read-only -36; a unique tag
   adds no second entry of a key: 11). */
int16_t kbdmkadd(int32_t tag, const void* key, uint32_t recno);
int16_t kbdmkdel(int32_t tag, const void* key, uint32_t recno);
/* The key of the data file's current record for this tag: *key is engine
   memory (key length + 1 bytes, released with kbdfree), null on failure.
   'C' tags take text, 'D' tags a date, 'N' tags a number ('N' or 'F');
   any other result is -7. */
int16_t kbdmkmake(int16_t dbf_handle, int32_t tag, void** key);
/* Key images: kbdmdkey reads a date text in the current date format into
   the 8-byte 'D' key (blanks: 1.0e100; -15 for a bad date); kbdmnkey
   packs a number into the 12-byte 'N' key. key: room for 8 or 12 bytes
   (no NUL is written). */
int16_t kbdmdkey(void* key, const char* date);
int16_t kbdmnkey(void* key, double value);
/* Copies the tag's expression (NUL-terminated, at most 221 bytes). */
int16_t kbdmexpr(int32_t tag, char* buffer);
int16_t kbdmtaginfo(int32_t tag, KbdMdxTagInfo* info);
int16_t kbdminfo(int16_t handle, KbdMdxInfo* info);

/* ------------------------------------------------------------------------
   NTX index files (kind 7): one key per file, a B-tree of 1,024-byte
   pages whose keys live in leaves and interior pages alike, compared as
   plain bytes, in ascending order or, in a descending index (header byte
   280), descending: then "greater" below means "later in the file's
   order". Equal keys keep the order they were added in (a build adds
   them in record order). A shared file is locked for the length of each
   call as NDX files are. Every call re-reads the header's update counter,
   root and free-list words and the file size, writes changed pages at once
   and keeps no page from one call to the next.

   Caller's keys are key_length bytes (+ 1 for the NUL written on output).
   Given keys are blank-padded or cut to the key length; a find or seek
   key shorter than the key length (up to its NUL) is a prefix. Statuses
   besides errors: 2 the index is empty, 3 walked past either end, 4 key
   not found, 12 past the last key (positioned on the last key). */

/* Description of an open NTX index (kbdxinfo). */
typedef struct KbdNtxInfo {
  char name[261]; /* file name as opened, NUL-terminated */
  uint16_t key_length;
  uint16_t decimals;
  uint16_t flags;             /* kKbdKeyUnique, kKbdKeyDescending (header
                                 byte 280) */
  uint16_t expression_length; /* of the whole expression */
  char expression[101];       /* its first 100 characters and a NUL */
  uint16_t file_flags;        /* bit 0 read-only, bit 1 shared */
  uint16_t for_length;        /* of the whole FOR condition, 0: none */
  char for_expression[101];   /* its first 100 characters and a NUL */
} KbdNtxInfo;

/* kbdxseek modes. */
enum KbdNtxSeekMode {
  kKbdSeekKey = 1,     /* the first entry whose key is not below the key */
  kKbdSeekKeyRecno = 2 /* the first entry not below (key, record number) */
};

/* Creates an empty index (2,048 bytes: header and an empty root page;
   not opened), replacing any file. type: 'C' (key length 1..100), 'D'
   (length 8), 'N' (length 1..19, decimals 0..length - 2 and below 16) in
   either case, | kKbdKeyUnique, | kKbdKeyDescending.
   Errors: -21, -7 expression of 256 characters or more without blanks,
   -23 key length, -30 decimals, -22 other type. */
int16_t kbdxcreate(const char* name, uint16_t type, const char* expression,
                   uint16_t key_length, uint16_t decimals);
/* kbdxcreate with a FOR condition, stored as given without its outer
   blanks (null or blank: none; -7 beyond 255 characters). */
int16_t kbdxcreatex(const char* name, uint16_t type, const char* expression,
                    uint16_t key_length, uint16_t decimals,
                    const char* for_expression);
/* Creates the index and fills it with one key per record of the data
   file (deleted records included), sorting through "stacks.tmp" of the
   current directory; the data file is locked (mode 2) meanwhile. The
   index is left closed; a failed build deletes it. An index file another
   handle has open is not replaced (-37). */
int16_t kbdxbuild(int16_t dbf_handle, const char* name, uint16_t type,
                  const char* expression, uint16_t key_length,
                  uint16_t decimals);
/* kbdxbuild with a FOR condition stored as kbdxcreatex stores it. A
   unique index keeps the first record of each key. */
int16_t kbdxbuildx(int16_t dbf_handle, const char* name, uint16_t type,
                   const char* expression, uint16_t key_length,
                   uint16_t decimals, const char* for_expression);
/* mode: low byte 0, 5 or 6 (else -18), 0x100 read-only, 0x400 shared,
   0x800 as 0x600. Header checks in order: -23, -24, -25, -26, -44, -7;
   warning 7 when the size is not a multiple of 1,024. On failure *handle
   is -1. */
int16_t kbdxopenx(int16_t* handle, const char* name, uint16_t mode);
int16_t kbdxclose(int16_t handle);
/* Positions on (key, recno), wherever it lies among the equal keys: 0
   found, 4 not found, 2 empty. recno 0
   seeks the key alone: the first entry whose key begins with the given
   one (a prefix when shorter than the key length). */
int16_t kbdxfind(int16_t handle, const void* key, uint32_t recno);
/* key, recno: in what is sought, out the entry found. mode: KbdNtxSeekMode
   (mode 2: the pair itself when it is there, wherever it lies among the
   equal keys). 0 an equal key, 4 the key is absent (positioned on the next greater),
   12 every key is smaller (positioned on the last), 2 empty. */
int16_t kbdxseek(int16_t handle, void* key, uint32_t* recno, uint16_t mode);
/* -12 for record number 0, -36 on a read-only file. kbdxadd puts the
   entry after the keys equal to it; on a unique index whose key is
   present it answers 11 and writes nothing. kbdxdelete removes the entry
   of key and record number; it answers 4 (or 2) and changes nothing when
   that entry is not there. */
int16_t kbdxadd(int16_t handle, const void* key, uint32_t recno);
int16_t kbdxdelete(int16_t handle, const void* key, uint32_t recno);
int16_t kbdxfirst(int16_t handle, void* key, uint32_t* recno);
int16_t kbdxlast(int16_t handle, void* key, uint32_t* recno);
/* key, recno: in the entry to move from, out the entry moved to. */
int16_t kbdxnext(int16_t handle, void* key, uint32_t* recno);
int16_t kbdxprev(int16_t handle, void* key, uint32_t* recno);
/* Copies the expression (NUL-terminated, at most 256 bytes). */
int16_t kbdxexpr(int16_t handle, char* buffer);
/* Copies the FOR condition (empty when none; NUL-terminated, at most 256
   bytes). */
int16_t kbdxforexpr(int16_t handle, char* buffer);
/* Whether the data file's current record belongs in the index: 1 when the
   index has no FOR condition or the condition holds for the record, 0
   when it does not (the record gets no entry), negative on errors. Keys
   and conditions of NTX files are evaluated with Clipper's rules. */
int16_t kbdxforrec(int16_t dbf_handle, int16_t handle);
/* The key text of a number: "%*.*f" with the key length and the index's
   decimals, its leading blanks and minus sign made '0'; then a negative
   number's digits c become 92 - c, so negatives sort below positives
   (-47 in a key of 3 is ",(%"). key: key length + 1 bytes. */
int16_t kbdxkeynum(int16_t handle, void* key, double number);
/* The key of a YYYYMMDD date text: the same 8 digits, 8 blanks for an
   empty date, -15 for an invalid one. key: 9 bytes. */
int16_t kbdxkeydate(void* key, const char* date);
/* The key of the data file's current record (Clipper's rules): *key is
   engine memory (key length + 1 bytes, released with kbdfree), null on
   failure. */
int16_t kbdxkeyrec(int16_t dbf_handle, int16_t handle, void** key);
int16_t kbdxinfo(int16_t handle, KbdNtxInfo* info);
/* Re-reads the header's update counter, root and free-list words. */
int16_t kbdxrefresh(int16_t handle);

/* ------------------------------------------------------------------------
   IDX index files (kind 6): one key per file in 512-byte nodes, in the
   standard layout (fixed entries) or the compact one (leaves of
   bit-packed, prefix-compressed entries). Every key lives in a leaf; the
   nodes of each level are chained both ways. Shared as NTX files are.

   Keys: 'C' text padded with blanks; 'D' and 'N' 8 bytes (the true
   Julian day number of the date, proleptic Gregorian, 0 for the empty
   date, or the number, as a big-endian double, sign bit set when not
   negative, all bits inverted when negative, so that bytes compare as the
   values); 'L' one byte. The operations and statuses are those of the NTX
   functions above. A descending index (compact layout) keeps its keys
   ascending in the file; first, last, next, previous and the searches
   follow the reversed order (equal keys by falling record number). A
   unique index holds one entry per key (the first record's): an add of a
   key already there answers 11 and writes nothing; a delete removes an
   entry only when key and record number both match. */

/* The type word of kbdicreate, kbdibuild, kbdctagcreate and kbdctagbuild:
   the key type letter ('C', 'D', 'N', 'L', either case), | kKbdKeyUnique,
   | kKbdKeyDescending (IDX: compact layout only, else -12),
   | kKbdKeyCompact (IDX: the compact layout). */

/* Bits of kbdikeyform's and kbdckeyform's answer. */
enum KbdFoxKeyForm {
  kKbdFoxKeyInteger = 0x01, /* 'N' keys in the 4-byte integer image */
  kKbdFoxKeyNullable = 0x02 /* a leading null byte: 0x80, or all zero
                               bytes for null */
};

/* Description of an open IDX index (kbdiinfo). */
typedef struct KbdIdxInfo {
  char name[261]; /* file name as opened, NUL-terminated */
  uint16_t key_length;
  char type;                  /* as set by kbdikeytype ('C' at open) */
  uint16_t flags;             /* KbdKeyTypeFlags: 0x80 unique, 0x400
                                 compact, 0x100 descending (key order
                                 word), 0x800 candidate */
  uint16_t expression_length; /* of the whole expression */
  char expression[101];       /* its first 100 characters and a NUL */
  uint16_t for_length;        /* the FOR expression's length (0: none) */
  char for_expression[101];   /* its first 100 characters and a NUL */
  uint16_t file_flags;        /* bit 0 read-only, bit 1 shared */
} KbdIdxInfo;

/* Creates an empty index, replacing any file: standard 1,024 bytes,
   compact (type | kKbdKeyCompact) 1,536 bytes. type: 'C' (key length
   1..100), 'D' and 'N' (8), 'L' (1) in either case, | kKbdKeyUnique.
   Errors: -21, -7 expression over 220 characters without blanks, -23,
   -22. */
int16_t kbdicreate(const char* name, uint16_t type, const char* expression,
                   uint16_t key_length);
/* Creates the index and fills it from every record of the data file (as
   kbdxbuild). */
int16_t kbdibuild(int16_t dbf_handle, const char* name, uint16_t type,
                  const char* expression, uint16_t key_length);
/* kbdicreate and kbdibuild with a FOR expression stored in the header as
   given without its outer blanks (null or blank: none; -7 when it does
   not fit: 220 characters, and in the compact layout 510 bytes with the
   key expression). */
int16_t kbdicreatex(const char* name, uint16_t type, const char* expression,
                    uint16_t key_length, const char* for_expression);
int16_t kbdibuildx(int16_t dbf_handle, const char* name, uint16_t type,
                   const char* expression, uint16_t key_length,
                   const char* for_expression);
/* mode: low byte 0, 3, 4 or 8 (else -18), 0x100, 0x400, 0x800 as for
   NTX. Checks: -23, -7, -25; warning 7 when the size differs from the
   end-of-file word (standard layout; in the compact layout that word is a
   change counter). */
int16_t kbdiopenx(int16_t* handle, const char* name, uint16_t mode);
int16_t kbdiclose(int16_t handle);
/* The key type used to make and compare keys: 'C' (pad blank), 'D', 'L',
   'N' (pad 0), either case; else -22. */
int16_t kbdikeytype(int16_t handle, uint16_t type);
int16_t kbdifind(int16_t handle, const void* key, uint32_t recno);
int16_t kbdiseek(int16_t handle, void* key, uint32_t* recno, uint16_t mode);
int16_t kbdiadd(int16_t handle, const void* key, uint32_t recno);
int16_t kbdidelete(int16_t handle, const void* key, uint32_t recno);
int16_t kbdifirst(int16_t handle, void* key, uint32_t* recno);
int16_t kbdilast(int16_t handle, void* key, uint32_t* recno);
int16_t kbdinext(int16_t handle, void* key, uint32_t* recno);
int16_t kbdiprev(int16_t handle, void* key, uint32_t* recno);
/* Copies the expression (NUL-terminated, at most 221 bytes). */
int16_t kbdiexpr(int16_t handle, char* buffer);
/* Copies the FOR expression, normalised as kbdiexpr gives the key
   expression ("" when none; NUL-terminated, at most 221 bytes). */
int16_t kbdiforexpr(int16_t handle, char* buffer);
int16_t kbdiinfo(int16_t handle, KbdIdxInfo* info);
/* Key images: a YYYYMMDD date text (blanks: the empty-date key; -15 for
   an invalid date) or a number, as the 8-byte sortable double followed by
   a NUL (key: 9 bytes). */
int16_t kbdidatekey(void* key, const char* date);
int16_t kbdinumkey(void* key, double value);
/* The key of the data file's current record, as kbdxkeyrec, whatever
   the FOR condition, in the image the key length calls for: 'C' text
   padded or cut, 'N' the 8-byte image or in a key of 4 bytes the 4-byte
   integer image (big-endian, sign bit inverted), 'D' the date's 8-byte
   image, 'L' 'T' or 'F'; a key one byte longer than its value's image
   over a nullable field (Visual FoxPro) is 0x80 then the image, or all
   zero bytes for null. Field names longer than 10 characters in the
   expression are cut to 10. */
int16_t kbdikeyrec(int16_t dbf_handle, int16_t handle, void** key);
/* Our addition: what the index's keys hold, as its expression shows it on
   the data file's current record: *type 'C', 'N', 'D' or 'L'; *form a
   sum of KbdFoxKeyForm bits. Errors as kbdikeyrec. */
int16_t kbdikeyform(int16_t dbf_handle, int16_t handle, char* type,
                    uint16_t* form);
/* Whether the data file's current record belongs in the index, as
   kbdcforrec. */
int16_t kbdiforrec(int16_t dbf_handle, int16_t handle);

/* ------------------------------------------------------------------------
   CDX compound index files (kind 8): named tags, each a compact IDX tree,
   listed by a directory tree of their names, in one file of 512-byte
   blocks. Tags are opened into 19 slots of the handle; a tag identifier
   is slot * 65536 + file handle. Keys, descending and unique tags as for
   IDX files. */

/* kbdcfind modes (statuses 0 found, 4 not found and positioned on the
   next greater key, 3 no more keys, 2 empty tag). */
enum KbdCdxFindMode {
  kKbdCdxFirstNotBelow = 1, /* first key >= the key (prefix for text) */
  kKbdCdxKeyRecno = 2,      /* as 1, an equal key needs the recno too */
  kKbdCdxAbove = 3,         /* first key > the key */
  kKbdCdxSoftBefore = 11,   /* as 1; an exact hit moves back one; 4->0, 3->4 */
  kKbdCdxSoft = 12,         /* as 1; 4->0, 3->4 */
  kKbdCdxSoftEnd = 13,      /* as 1; 3->4 */
  kKbdCdxSoftNext = 14,     /* as 1; 3->0; on 4 one step on (3->4) */
  kKbdCdxAfter = 15         /* as 3; an exact hit moves on one; 3->0 */
};

/* Description of a tag: kbdctaginfo, and 128 bytes a tag in the array of
   kbdctaglist. */
typedef struct KbdCdxTagInfo {
  char name[12]; /* NUL-terminated, at most 10 characters */
  int32_t key_length;
  int32_t type;  /* 'C', 'D', 'N' or 'L' as far as known */
  int32_t flags; /* KbdKeyTypeFlags: 0x80 unique, 0x400
                                 compact, 0x100 descending, 0x800
                                 candidate */
  int32_t expression_length;
  char expression[100]; /* the first 100 bytes (NUL-terminated when
                                 shorter) */
} KbdCdxTagInfo;

/* Description of an open compound file (kbdcinfo). */
typedef struct KbdCdxInfo {
  char name[261];      /* file name as opened, NUL-terminated */
  uint16_t file_flags; /* bit 0 read-only, bit 1 shared, bit 2
                                 write-through */
  uint16_t locked;     /* 0: the file's lock is held only inside a
                                 call */
  uint16_t tag_count;  /* tags in the directory */
} KbdCdxInfo;

/* mode: low byte 0, 3, 4 or 8 (else -18), 0x100, 0x400, 0x800 as for
   NTX; 0x200 and 0x1000 make writes go to the file at once. A shared file
   is locked for the length of each call as NDX files are. Warning 7 when
   the size is not a whole number of 512-byte blocks. */
int16_t kbdcopenx(int16_t* handle, const char* name, uint16_t mode);
/* Creates an empty compound file (the directory only; not opened),
   replacing any file. */
int16_t kbdccreate(const char* name);
int16_t kbdcclose(int16_t handle);
/* Opens a tag by name (1..10 characters, without regard to case; -50
   when absent) into the first free slot: -57 when already open, -52 when
   the 19 slots are in use; tag header checks -23, -7, -25. */
int16_t kbdctagopen(int32_t* tag, int16_t handle, const char* name);
/* Opens the n-th tag in name order (1 first) into slot n: -54 outside
   1..19; status 0 and nothing done when the slot is in use. */
int16_t kbdctagopenno(int32_t* tag, int16_t handle, int16_t number);
/* Closes a tag (-48 when the identifier names no open tag). */
int16_t kbdctagclose(int32_t tag);
int16_t kbdctaginfo(int32_t tag, KbdCdxTagInfo* info);
/* All tags in name order: *tags is engine memory (released with kbdfree),
   *count descriptions of 128 bytes. */
int16_t kbdctaglist(int16_t handle, int16_t* count, KbdCdxTagInfo** tags);
/* Copies the key expression or the FOR expression (empty when none),
   NUL-terminated, at most 256 bytes. */
int16_t kbdcexpr(int32_t tag, char* buffer);
int16_t kbdcforexpr(int32_t tag, char* buffer);
int16_t kbdcinfo(int16_t handle, KbdCdxInfo* info);
/* Creates an empty tag, replacing a tag of the same name. type and key
   length as for kbdicreate (the tag is compact; | kKbdKeyUnique,
   | kKbdKeyDescending). */
int16_t kbdctagcreate(int16_t handle, const char* name, uint16_t type,
                      const char* expression, uint16_t key_length);
/* Creates the tag and fills it from every record of the data file (as
   kbdxbuild); the tag is left closed. */
int16_t kbdctagbuild(int16_t dbf_handle, int16_t handle, const char* name,
                     uint16_t type, const char* expression,
                     uint16_t key_length);
/* kbdctagcreate and kbdctagbuild with a FOR expression stored in the tag
   as given without its outer blanks (null or blank: none; -7 beyond 220
   characters or when the two expressions do not fit the tag's 512-byte
   expression block). */
int16_t kbdctagcreatex(int16_t handle, const char* name, uint16_t type,
                       const char* expression, uint16_t key_length,
                       const char* for_expression);
int16_t kbdctagbuildx(int16_t dbf_handle, int16_t handle, const char* name,
                      uint16_t type, const char* expression,
                      uint16_t key_length, const char* for_expression);
/* Removes the tag (-50 when absent, -57 when open); its blocks go to the
   free list. */
int16_t kbdctagdelete(int16_t handle, const char* name);
/* The key type used to make and compare keys, as kbdikeytype. */
int16_t kbdckeytype(int32_t tag, uint16_t type);
/* key, recno: in what is sought, out the entry found. mode:
   KbdCdxFindMode (else -12). */
int16_t kbdcfind(int32_t tag, void* key, uint32_t* recno, uint16_t mode);
int16_t kbdcfirst(int32_t tag, void* key, uint32_t* recno);
int16_t kbdclast(int32_t tag, void* key, uint32_t* recno);
/* key, recno: in the entry to move from, out the entry moved to. */
int16_t kbdcnext(int32_t tag, void* key, uint32_t* recno);
int16_t kbdcprev(int32_t tag, void* key, uint32_t* recno);
/* Positions on (key, recno): 0 found, 4 not found, 2 empty. */
int16_t kbdccurrent(int32_t tag, void* key, uint32_t* recno);
/* 11 (nothing written) when the entry (unique tags: the key) is there;
   -6 / -6000 when recno does not fit the record-number field of the
   leaf it goes to; -36 read-only. kbdcdelete: 4 or 2 when absent. */
int16_t kbdcadd(int32_t tag, const void* key, uint32_t recno);
int16_t kbdcdelete(int32_t tag, const void* key, uint32_t recno);
/* Key images as kbdidatekey and kbdinumkey. */
int16_t kbdcdatekey(void* key, const char* date);
int16_t kbdcnumkey(void* key, double value);
/* The key of the data file's current record, as kbdikeyrec, whatever
   the tag's FOR condition. */
int16_t kbdckeyrec(int16_t dbf_handle, int32_t tag, void** key);
/* Our addition: what the tag's keys hold, as kbdikeyform. */
int16_t kbdckeyform(int16_t dbf_handle, int32_t tag, char* type,
                    uint16_t* form);
/* Whether the data file's current record belongs in the tag: 1 when the
   tag has no FOR condition or the condition holds (dBASE and FoxPro
   rules), 0 when it does not; negative on error (-7 for a condition that
   is not logical). */
int16_t kbdcforrec(int16_t dbf_handle, int32_t tag);

/* ------------------------------------------------------------------------
   Key expressions. */

/* Evaluates expr on the data file's current record. *value is engine
   memory released with kbdfree: C and D NUL-terminated text, N and F a
   double, L one byte (1 true; 0 or '?', a blank field, false), M a
   uint32_t. A comparison or logical expression (a FOR condition) gives L.
   term_limit -1 (any negative): no limit; otherwise the evaluation stops
   after that many terms of the leftmost sum ("A+B+C" has three); an
   expression that yields no term (empty, limit 0) is -7. On failure
   *value is null, *type ' ' and *length 0. The rules are those of the
   dialect the data file is open in (kKbdExprRulesOfTable). */
int16_t kbddeval(int16_t dbf_handle, const char* expr, int16_t term_limit,
                 void** value, char* type, uint16_t* length);

/* Our addition: the rules an expression is evaluated under where the
   index families differ (STR without a length among others). */
enum {
  kKbdExprRulesOfTable = 0, /* Clipper for a data file open in dialect 5
                               or 6, else dBASE */
  kKbdExprRulesDbase = 1,   /* dBASE and FoxPro: NDX, MDX, IDX, CDX */
  kKbdExprRulesClipper = 2  /* Clipper: NTX */
};

/* Our addition: kbddeval under the rules named (-12 for another code). */
int16_t kbddevalx(int16_t dbf_handle, const char* expr, int16_t term_limit,
                  int16_t rules, void** value, char* type, uint16_t* length);

/* Our addition: evaluates an index's FOR condition on the data file's
   current record under the rules named: *accepted 1 when the record
   belongs in the index, else 0 (also on failure). An empty condition
   (blanks only) accepts every record; a condition whose value is not a
   logical is -7. */
int16_t kbddcond(int16_t dbf_handle, const char* condition, int16_t rules,
                 int16_t* accepted);

/* Extension functions: further functions of the key-expression language,
   supplied by the program that starts the engine.

   Table. kbdinitx starts the engine as kbdinit does and installs a table
   of count entries (0 removes the table). Each entry's name is the
   function word with its opening parenthesis, e.g. "TRIM(", in upper case
   (the expression text is upper-cased before it is parsed), with no blank,
   ',', '+' or ')' and no '(' before the last byte; name_length counts its
   bytes, '(' included. The entries are sorted by name in byte order. A
   table that breaks these rules is not installed: the engine is started
   without extension functions and kbdinitx returns -12 (-21 for a null
   table with a non-zero count). The engine copies the names. kbdinit and
   kbdterm leave the table in place.

   Lookup. At the start of every operand the text at the parse position is
   looked up in the table by binary search, comparing bytes over each
   entry's name length; a match wins over the built-in functions and over
   field names.

   Calling convention. On a match the parse position moves past the name
   and the entry's function is called once with a context that is valid
   only during that call. It reads its arguments through the context (each
   argument with kbdeterm, integers with kbdeint, the ',' between and
   the closing ')' with kbdeexpect) and sets the term's value with
   kbderesult. Its return value becomes the engine's last error: a negative
   one fails the evaluation with that code (in a branch not taken, IIF's
   other branch, it only voids the branch); 0 or a warning lets it go on,
   and a warning is what kbddeval answers when nothing fails later. The
   evaluation also fails when the function returns without a value (-7) or
   after a context call failed, whatever it returns. The function must not
   call kbddeval, kbdinitx or kbdterm (-12 for the first two). */
typedef struct KbdExprContext KbdExprContext;
typedef int16_t (*KbdExtFunctionProc)(KbdExprContext* context);

typedef struct KbdExtFunction {
  const char* name; /* e.g. "TRIM(": upper case, '(' last */
  KbdExtFunctionProc function;
  int16_t name_length; /* bytes of name, '(' included */
} KbdExtFunction;

int16_t kbdinitx(int16_t memory, int16_t files, const KbdExtFunction* table,
                 int16_t count);

/* Context calls for extension functions; each returns a status (-21 for
   a null pointer, -12 for a context that is not the running call's, -7
   for a syntax or type error).
   kbdeterm parses one argument at the parse position (an expression,
   which ends before the ',' or ')' that follows it) and gives its value
   as kbddeval gives one; the value stays valid until the extension
   function returns.
   kbdeint reads an integer argument: an argument whose value is a number,
   cut toward zero (saturating at the 32-bit range); an empty one, or one
   of another type, is -7.
   kbdeexpect consumes the byte delimiter, -7 when another byte (or the
   end of the text) is there.
   kbdepeek gives the byte at the parse position without consuming it,
   '\0' at the end of the text.
   kbderesult sets the term's value, copied: for 'C' and 'D' length bytes
   of text, for 'N' and 'F' a double, for 'L' one byte, for 'M' a
   uint32_t (length is then ignored); any other type is -7. */
int16_t kbdeterm(KbdExprContext* context, const void** value, char* type,
                 uint16_t* length);
int16_t kbdeint(KbdExprContext* context, int32_t* value);
int16_t kbdeexpect(KbdExprContext* context, char delimiter);
int16_t kbdepeek(KbdExprContext* context, char* next);
int16_t kbderesult(KbdExprContext* context, const void* value, char type,
                   uint16_t length);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QX_ENGINE_H_ */
