/* The engine's exported interface: the DLL_* functions and the records they return.
 *
 * Every record has fixed-width fields so the 32- and 64-bit builds share one layout.
 * Records are returned as addresses of engine-owned static storage that the next call
 * of the same export overwrites: the caller copies what it needs and never frees them.
 * A drive letter is one character; upper and lower case name the same volume. */
#ifndef VEXA_VEXA_H
#define VEXA_VEXA_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define VEXA_CALL __stdcall
#else
#define VEXA_CALL
#endif

#if defined(VEXA_BUILDING_ENGINE) && !defined(_WIN32)
#define VEXA_EXPORT __attribute__((visibility("default")))
#else
#define VEXA_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status states of VexaWorkingStatus.state. */
enum {
  VEXA_STATE_IDLE = 0,
  VEXA_STATE_ANALYSING = 1,
  VEXA_STATE_DEFRAGMENTING = 2,
  VEXA_STATE_OPTIMIZING = 3
};

/* Colour codes of the cluster map. */
enum {
  VEXA_COLOR_EMPTY = 0,
  VEXA_COLOR_FRAGMENTED_RECENT = 1,
  VEXA_COLOR_SYSTEM = 2,
  VEXA_COLOR_PARTLY_CONTIGUOUS = 3,
  VEXA_COLOR_CONTIGUOUS = 4,
  VEXA_COLOR_FRAGMENTED = 5
};

#define VEXA_MAP_CELLS 1000

/* What DLL_GetWorkingStatus returns (536 bytes). */
typedef struct VexaWorkingStatus {
  int32_t state;            /* VEXA_STATE_* */
  char letter;              /* letter of the volume being visited, 0 when none */
  char reserved;            /* 0 */
  char currentName[500];    /* name (no folder) of the directory entry found last */
  char padding1[2];
  int32_t progressRange;    /* 100, or the in-depth candidate count */
  int32_t progressPosition; /* percent (-1 when it cannot be formed), or candidate index */
  char padding2[4];
  uint64_t moveSource;      /* cluster being moved from (grows while a move lasts) */
  uint64_t moveTarget;      /* cluster being moved to */
} VexaWorkingStatus;

/* What DLL_GetVolumeInfo returns (248 bytes). */
typedef struct VexaVolumeInfo {
  char fileSystem[10];  /* "NTFS", "FAT32", ... */
  char totalSize[100];  /* "74.5 GB" */
  char usedSize[100];   /* "7.6 GB" */
  char padding1[6];
  uint64_t clustersPerCell;
  uint64_t freeClusters;
  uint64_t usedClusters;
  uint32_t bytesPerCluster;
  char solidState;      /* 1: its disk has no seek penalty (a solid-state drive), which
                           scheduled and real-time runs pass over and front ends ask about;
                           0: a disk with a seek penalty, or one that cannot say */
  char padding2[3];
} VexaVolumeInfo;

/* What DLL_GetVolumeSectorFileInfo returns (300 bytes): three decimal texts. */
typedef struct VexaFileDetails {
  char extentCount[100];  /* extents of the file */
  char clusters[100];     /* file size div bytes per cluster */
  char bytes[100];        /* file size in bytes */
} VexaFileDetails;

/* One cluster-map cell (24 bytes), also the record of the "diskdata" file. */
typedef struct VexaMapCell {
  int32_t inUse;            /* 1 when the cell holds any counted entry */
  int32_t systemCount;      /* entries found under a "system32" folder */
  int32_t reserved;         /* kept as stored */
  int32_t fragmentedCount;  /* extents of fragmented files starting here */
  int32_t contiguousCount;  /* files in one piece covering part of this cell */
  int32_t partlyCount;      /* extents of files with adjacent or virtual pieces */
} VexaMapCell;

/* Jobs: each runs one job over the volumes named by `letters` (for example "CE")
 * and returns 1 when it has ended; the call blocks its thread for the whole job.
 * A call made while a job runs returns 1 at once and starts nothing. A call made while
 * another process of the computer runs an engine job (the machine-wide job lock is
 * taken) returns 0 at once and starts nothing. */
VEXA_EXPORT int32_t VEXA_CALL DLL_AnalyseVolume(const char* letters);
VEXA_EXPORT int32_t VEXA_CALL DLL_DefragVolume(const char* letters);
VEXA_EXPORT int32_t VEXA_CALL DLL_OptimizedDefragVolume(const char* letters);
/* Asks the running job to stop at its next check point; returns at once. Any thread. */
VEXA_EXPORT void VEXA_CALL DLL_WorkingStop(void);
/* Fills and returns the status record. One polling thread at a time. */
VEXA_EXPORT const VexaWorkingStatus* VEXA_CALL DLL_GetWorkingStatus(void);

/* Makes the volume of `letter` the current one (status record, file details). */
VEXA_EXPORT void VEXA_CALL DLL_SetCurrentVolume(char letter);
/* The volume's figures, or NULL when the letter names no open volume. */
VEXA_EXPORT const VexaVolumeInfo* VEXA_CALL DLL_GetVolumeInfo(char letter);

/* The 1000 colour codes of the volume's map (all 0 for an unknown volume). */
VEXA_EXPORT const int32_t* VEXA_CALL DLL_GetVolumeColorTable(char letter);
/* The colour code of one cell (0 for an unknown volume or a cell outside 0..999). */
VEXA_EXPORT int32_t VEXA_CALL DLL_GetVolumeSectorColor(char letter, int32_t cell);
/* Writes the paths found in one cell to "FileList.txt" in the working folder,
 * one per line; 1 written, 0 the file could not be created. */
VEXA_EXPORT int32_t VEXA_CALL DLL_GetVolumeSectorFilesList(char letter, int32_t cell);
/* Details of the file at a full path, or NULL when it cannot be opened. */
VEXA_EXPORT const VexaFileDetails* VEXA_CALL DLL_GetVolumeSectorFileInfo(const char* path);

/* Opens the last job's report in the user's browser: kind 1 the analysis report, any
 * other kind the defragmentation report. Returns once the shell has the request. */
VEXA_EXPORT void VEXA_CALL DLL_ShowReport(int32_t kind);

/* The live switches (0 off, 1 on), as read from "Setting" at load or set by a
 * confirmed dialog: run at Windows start-up, turn the computer off after a
 * defragmentation, restart it after a defragmentation. Any thread. */
VEXA_EXPORT int32_t VEXA_CALL DLL_GetAutoRun(void);
VEXA_EXPORT int32_t VEXA_CALL DLL_GetLogout(void);
VEXA_EXPORT int32_t VEXA_CALL DLL_GetRestart(void);

/* The engine's dialogs (Windows only; elsewhere both return at once). Each shows its
 * dialog modally on the calling thread, blocks it until the dialog has closed and
 * applies what the user confirmed. DLL_Options: exclusion lists, start-up, turn-off and
 * restart switches. DLL_Advance: the scheduled run and the real-time defragmenter;
 * its result means nothing (0). */
VEXA_EXPORT void VEXA_CALL DLL_Options(void);
VEXA_EXPORT int32_t VEXA_CALL DLL_Advance(void);

/* The Options dialog's settings for front ends without windows (front end's thread).
 * VexaGetExclusionText: the folder (0), file (1) or type (2) exclusion text as the dialog
 * shows it ("Temp;Backup;"); engine-owned, overwritten by the next call; NULL for any
 * other `which`. VexaSetOptions: what a confirmed Options dialog does with these values:
 * a NULL text keeps that text and a switch of -1 keeps that switch (turnOff and restart
 * otherwise 0 or 1; turning one on turns the other off); "preset.ini" is rewritten
 * every time. Returns 1 when "preset.ini" was written, 0 when it could not be. */
VEXA_EXPORT const char* VEXA_CALL VexaGetExclusionText(int32_t which);
VEXA_EXPORT int32_t VEXA_CALL VexaSetOptions(const char* folders, const char* files, const char* types,
                                             int32_t turnOff, int32_t restart);

/* Results of the schedule calls. */
enum {
  VEXA_SCHEDULE_DONE = 0,
  VEXA_SCHEDULE_EXISTS = 1,      /* add: the task is there already */
  VEXA_SCHEDULE_MISSING = 2,     /* remove, read: there is no task */
  VEXA_SCHEDULE_UNAVAILABLE = 3, /* the scheduler cannot be reached */
  VEXA_SCHEDULE_FAILED = 4       /* the scheduler refused */
};
/* The scheduled run without the dialog: the same daily task the advanced dialog adds
 * ("Tolvane Disk Defrag Schedule": vexa in the working folder with `letters`, daily at
 * 15:00), in the Task Scheduler on Windows and in the user's crontab elsewhere.
 * VexaReadSchedule sets *description (engine-owned, overwritten by the next call) to
 * the task's settings, one "Name: value" line each, when the result is
 * VEXA_SCHEDULE_DONE. Front end's thread. */
VEXA_EXPORT int32_t VEXA_CALL VexaAddSchedule(const char* letters);
VEXA_EXPORT int32_t VEXA_CALL VexaRemoveSchedule(void);
VEXA_EXPORT int32_t VEXA_CALL VexaReadSchedule(const char** description);

/* For front ends without windows: `handler` receives the text of every message the
 * engine would show in a message box (NULL restores the default: a message box on
 * Windows, a line on standard error elsewhere). The text is valid during the call only.
 * The handler runs on the thread that raises the message. */
VEXA_EXPORT void VEXA_CALL VexaSetMessageHandler(void (*handler)(const char* text));

/* The engine's rule: a defragmentation needs this much free space on a volume. */
#define VEXA_DEFAULT_MINIMUM_FREE 52428800ull /* 50 MiB */

/* For the command-line program: the free space, in bytes, a defragmentation needs on a
 * volume served from an image file or device of the volume map (the engine's rule,
 * VEXA_DEFAULT_MINIMUM_FREE, until set; native volumes always keep it). Lasts until the
 * library is unloaded. Call between jobs. */
VEXA_EXPORT void VEXA_CALL VexaSetMappedMinimumFree(uint64_t bytes);

/* --- Per-file commands of the command-line program (check, contig, put) ---
 * Each runs on the calling thread like a job: it returns VEXA_FILE_BUSY when a job
 * runs, and DLL_WorkingStop stops it between two moves. Paths are full paths of an
 * open volume ("C:\GAMES\X.ISO"), compared without regard to case; the path given
 * to a callback is valid during the call only. Callbacks are plain C functions run on
 * the calling thread. */
enum {
  VEXA_FILE_DONE = 0,               /* checked, made contiguous, or copied in */
  VEXA_FILE_ALREADY_CONTIGUOUS = 1, /* contig: the file was in one piece; nothing moved */
  VEXA_FILE_NO_RUN = 2,             /* no free run (or not enough runs) holds the file */
  VEXA_FILE_NOT_FOUND = 3,          /* no file or folder at the path (or its folder) */
  VEXA_FILE_IS_FOLDER = 4,          /* contig and put: the path names a folder */
  VEXA_FILE_EXISTS = 5,             /* put: the name is taken and replace was not asked */
  VEXA_FILE_NO_VOLUME = 6,          /* the letter names no open volume */
  VEXA_FILE_BUSY = 7,               /* a job runs */
  VEXA_FILE_STOPPED = 8,            /* a stop request arrived */
  VEXA_FILE_FAILED = 9,             /* the volume refused a move or a write: see error */
  VEXA_FILE_NOT_SUPPORTED = 10,     /* put: the volume's provider cannot create files */
  VEXA_FILE_BAD_NAME = 11,          /* put: no file can have that name */
  VEXA_FILE_SOURCE_FAILED = 12,     /* put: the content could not be read */
  VEXA_FILE_TOO_LARGE = 13,         /* put: 4 GiB or more */
  VEXA_FILE_FOLDER_FULL = 14,       /* put: the folder cannot take another entry */
  VEXA_FILE_SPLIT_ENTRY = 15        /* put: an entry that must change would span two sectors;
                                       contig: the file's entry set spans two sectors, so it
                                       is never moved */
};

/* One file as check sees it (40 bytes). */
typedef struct VexaFilePieces {
  uint64_t size;         /* bytes */
  uint64_t clusters;     /* clusters it occupies */
  int64_t firstCluster;  /* logical cluster of its first piece, -1 when it has none */
  uint32_t pieces;       /* runs of consecutive clusters (0 for an empty file) */
  uint32_t attributes;   /* FILE_ATTRIBUTE_* of its directory entry */
  uint32_t reserved[2];  /* 0 */
} VexaFilePieces;

/* One file moved to make room (24 bytes): logical clusters. */
typedef struct VexaMovedFile {
  uint64_t clusters;
  int64_t from;
  int64_t to;
} VexaMovedFile;

/* What contig or put did to one file (56 bytes). */
typedef struct VexaFileResult {
  int32_t outcome;          /* VEXA_FILE_* */
  uint32_t error;           /* Windows error code behind VEXA_FILE_FAILED, else 0 */
  uint32_t piecesBefore;    /* contig: pieces before; put: 0 */
  uint32_t pieces;          /* pieces now (put: of the new file) */
  uint64_t clusters;        /* clusters the file occupies or needs */
  uint64_t largestFreeRun;  /* clusters; with VEXA_FILE_NO_RUN, after any making room */
  uint64_t freeClusters;    /* free clusters of the volume, as last read */
  int64_t firstCluster;     /* logical cluster the file now starts at, -1 when none */
  uint32_t movedFiles;      /* contig with room making: files moved toward the start */
  uint32_t runsNeeded;      /* put: free runs the file would need (largest first) */
} VexaFileResult;

/* check: calls `visit` for the file at `path`, or for every file under the folder at
 * `path` (folders first-to-last in directory order, depth first). Returns
 * VEXA_FILE_DONE, _NOT_FOUND, _NO_VOLUME, _BUSY or _STOPPED. Reads only. */
VEXA_EXPORT int32_t VEXA_CALL VexaCheckFiles(const char* path,
                                             void (*visit)(const char* path, const VexaFilePieces* file,
                                                           void* context),
                                             void* context);

/* contig: makes the file at `path` one piece, in the smallest free run that holds it
 * (the run nearest the start among equals), with the moves of a defragmentation. With
 * `makeRoom` nonzero and no run large enough, first moves other files in one piece
 * toward the start (largest first, each into the first free run before it that holds
 * it) until one is, calling `moved` (may be NULL) for each. Fills *result; returns its
 * outcome. */
VEXA_EXPORT int32_t VEXA_CALL VexaMakeContiguous(const char* path, int32_t makeRoom,
                                                 void (*moved)(const char* path, const VexaMovedFile* move,
                                                               void* context),
                                                 void* context, VexaFileResult* result);

/* put: creates the file `path` of `size` bytes in one piece, or in at most `maxPieces`
 * pieces (the fewest free runs, largest first, the last one the smallest that holds
 * the rest), reading its content through `read` (returns nonzero when it filled
 * `data` with `size` bytes from `offset`). `lastWriteTime` is in seconds since 1970
 * (UTC). With `replace` nonzero an existing file of that name is replaced; its
 * clusters are freed only after the new content is named by its entry. Fills *result;
 * returns its outcome. */
VEXA_EXPORT int32_t VEXA_CALL VexaPutFile(const char* path, uint64_t size, int64_t lastWriteTime, uint32_t maxPieces,
                                          int32_t replace,
                                          int32_t (*read)(uint64_t offset, void* data, uint32_t size, void* context),
                                          void* context, VexaFileResult* result);

/* --- Files a defragmentation left in more than one piece ---
 * Why the last defragmentation or in-depth defragmentation of this engine left a
 * file fragmented. */
enum {
  VEXA_LEFT_NO_RUN = 1,      /* no free run holds it: see clusters and largestFreeRun */
  VEXA_LEFT_EXCLUDED = 2,    /* excluded by the Options lists (its name, or a folder above it) */
  VEXA_LEFT_SYSTEM = 3,      /* a system file the volume would not move */
  VEXA_LEFT_READ_ONLY = 4,   /* the volume takes no writes */
  VEXA_LEFT_STOPPED = 5,     /* the job was stopped while it was moved */
  VEXA_LEFT_CHANGED = 6,     /* it changed while it was moved, so it was passed over */
  VEXA_LEFT_MOVE_FAILED = 7, /* the volume refused a move: see error */
  VEXA_LEFT_ENTRY_SPANS_SECTORS = 8, /* exFAT: its directory entry set spans two sectors, so no
                                        single write can switch it to new clusters */
  VEXA_LEFT_ENCRYPTED = 9 /* encrypted, and this account may not read its data, which NTFS
                             requires of the handle that moves it (error: access denied) */
};

/* One file left in more than one piece (32 bytes). */
typedef struct VexaLeftFile {
  int32_t reason;           /* VEXA_LEFT_* */
  uint32_t pieces;          /* pieces it lies in */
  uint64_t clusters;        /* clusters it occupies */
  uint64_t largestFreeRun;  /* clusters; the largest free run when it was passed over */
  uint32_t error;           /* Windows error code behind VEXA_LEFT_MOVE_FAILED, else 0 */
  uint32_t reserved;        /* 0 */
} VexaLeftFile;

/* Calls `visit` for each file of the volume `letter` that the last defragmentation
 * job left in more than one piece, in the order the job met them, and returns how
 * many there were. Files a stopped job never reached are not among them. Call it
 * when no job runs. */
VEXA_EXPORT int32_t VEXA_CALL VexaListLeftFragmented(char letter,
                                                     void (*visit)(const char* path, const VexaLeftFile* file,
                                                                   void* context),
                                                     void* context);

/* Saves the engine's state files now, as unloading it would ("diskdata", and "Setting"
 * when a switch changed), and keeps it running: for a program about to turn the
 * computer off or restart it, which ends the program before the engine is unloaded.
 * 1 when both files are as they should be; 0 when they could not be written, the
 * engine has not started, or a job runs. */
VEXA_EXPORT int32_t VEXA_CALL VexaSaveState(void);

#ifdef __cplusplus
}  /* extern "C" */

static_assert(sizeof(VexaWorkingStatus) == 536, "status record layout");
static_assert(sizeof(VexaLeftFile) == 32, "left-fragmented record layout");
static_assert(offsetof(VexaLeftFile, largestFreeRun) == 16, "left-fragmented record layout");
static_assert(offsetof(VexaWorkingStatus, letter) == 4, "status record layout");
static_assert(offsetof(VexaWorkingStatus, reserved) == 5, "status record layout");
static_assert(offsetof(VexaWorkingStatus, currentName) == 6, "status record layout");
static_assert(offsetof(VexaWorkingStatus, padding1) == 506, "status record layout");
static_assert(offsetof(VexaWorkingStatus, progressRange) == 508, "status record layout");
static_assert(offsetof(VexaWorkingStatus, progressPosition) == 512, "status record layout");
static_assert(offsetof(VexaWorkingStatus, padding2) == 516, "status record layout");
static_assert(offsetof(VexaWorkingStatus, moveSource) == 520, "status record layout");
static_assert(offsetof(VexaWorkingStatus, moveTarget) == 528, "status record layout");

static_assert(sizeof(VexaVolumeInfo) == 248, "volume information layout");
static_assert(sizeof(VexaFilePieces) == 40, "file pieces layout");
static_assert(offsetof(VexaFilePieces, pieces) == 24, "file pieces layout");
static_assert(sizeof(VexaMovedFile) == 24, "moved file layout");
static_assert(sizeof(VexaFileResult) == 56, "file result layout");
static_assert(offsetof(VexaFileResult, clusters) == 16, "file result layout");
static_assert(offsetof(VexaFileResult, movedFiles) == 48, "file result layout");
static_assert(offsetof(VexaVolumeInfo, totalSize) == 10, "volume information layout");
static_assert(offsetof(VexaVolumeInfo, usedSize) == 110, "volume information layout");
static_assert(offsetof(VexaVolumeInfo, padding1) == 210, "volume information layout");
static_assert(offsetof(VexaVolumeInfo, clustersPerCell) == 216, "volume information layout");
static_assert(offsetof(VexaVolumeInfo, freeClusters) == 224, "volume information layout");
static_assert(offsetof(VexaVolumeInfo, usedClusters) == 232, "volume information layout");
static_assert(offsetof(VexaVolumeInfo, bytesPerCluster) == 240, "volume information layout");
static_assert(offsetof(VexaVolumeInfo, solidState) == 244, "volume information layout");
static_assert(offsetof(VexaVolumeInfo, padding2) == 245, "volume information layout");

static_assert(sizeof(VexaFileDetails) == 300, "file details layout");
static_assert(offsetof(VexaFileDetails, clusters) == 100, "file details layout");
static_assert(offsetof(VexaFileDetails, bytes) == 200, "file details layout");

static_assert(sizeof(VexaMapCell) == 24, "map cell layout");
static_assert(offsetof(VexaMapCell, systemCount) == 4, "map cell layout");
static_assert(offsetof(VexaMapCell, reserved) == 8, "map cell layout");
static_assert(offsetof(VexaMapCell, fragmentedCount) == 12, "map cell layout");
static_assert(offsetof(VexaMapCell, contiguousCount) == 16, "map cell layout");
static_assert(offsetof(VexaMapCell, partlyCount) == 20, "map cell layout");
#endif

#endif /* VEXA_VEXA_H */
