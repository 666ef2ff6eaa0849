/* qorvex: additions to the public interface for what the seventeen base exports cannot carry.
 * Every name here starts with QorvexEx; the base exports keep their behaviour whatever is called here. */
#ifndef QORVEX_EXT_H
#define QORVEX_EXT_H

#include "qorvex.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A result code beside those of qorvex.h: the image's structures would need more memory than the budget of
 * one open image allows (about 64 MiB plus 16 bytes per image byte, at most 2 GiB). */
#define ENGINE_TOO_LARGE 0x8127

/* A result code beside those of qorvex.h: the image is a CHD that holds only its differences from a parent CHD,
 * and is not read without it. */
#define ENGINE_NEEDS_PARENT 0x8128

/* Kinds of the El Torito system parts listed among the ISO 9660 ones with OPEN_BOOT_IMAGES. A boot image is
 * listed with the size of what it emulates: a floppy's 1.2, 1.44 or 2.88 MB, a hard disk up to the end of its
 * last partition, else the sectors loaded (an EFI image recording 0 or 1 loaded sectors: its FAT size). */
#define QORVEX_EX_KIND_BOOT_RECORD 7         /* the boot record volume descriptor */
#define QORVEX_EX_KIND_BOOT_CATALOGUE 8      /* the boot catalogue */
#define QORVEX_EX_KIND_BOOT_IMAGE 9          /* the image of the initial/default entry */
#define QORVEX_EX_KIND_BOOT_SECTION_IMAGE 10 /* the image of a section entry */

/* UDF 2.x system parts (OPEN_UDF_2X), among the UDF system parts. */
#define KIND_UDF_VAT 62             /* "VAT": the virtual allocation table's data */
#define KIND_UDF_VAT_ENTRY 63       /* "VAT ICB": the file entry that records it */
#define KIND_UDF_SPARING_TABLE 64   /* "SPARING TABLE (n)" */
#define KIND_UDF_METADATA_FILE 65   /* "METADATA FILE": one part per extent */
#define KIND_UDF_METADATA_MIRROR 66 /* "METADATA MIRROR" */
#define KIND_UDF_METADATA_BITMAP 67 /* "METADATA BITMAP" */

/* QorvexExEntry.flags */
#define QORVEX_EX_NAME_CUT 0x0001u        /* the name did not fit EntryInfo.name / wname and was cut */
#define QORVEX_EX_MULTI_EXTENT 0x0002u    /* ISO 9660 / Joliet: the record's multi-extent flag (more records follow) */
#define QORVEX_EX_POSIX 0x0004u           /* mode, links, uid, gid and serial are recorded (Rock Ridge PX) */
#define QORVEX_EX_SYMLINK 0x0008u         /* a symbolic link; link_target holds its target */
#define QORVEX_EX_HARDLINK_SERIAL 0x0010u /* serial identifies the file among hard links */
#define QORVEX_EX_DEVICE 0x0020u          /* a device node (listed, never created); device holds its number */
#define QORVEX_EX_ZISOFS                                                                                          \
    0x0040u                        /* zisofs-compressed (Rock Ridge ZF): the size is the real size and extraction \
                                      gives the decoded bytes (ENGINE_READ_FAILED when they cannot be decoded) */
#define QORVEX_EX_HAS_DATE 0x0080u /* `modified` holds a recorded date (any year; 0 is 1970-01-01 00:00:00) */
#define QORVEX_EX_DAMAGED 0x0100u  /* OPEN_SALVAGE: the image lacks bytes of the entry (QorvexExGetDamage) */

/* QorvexExEntry.type: what the entry stands for on the file system. A system part that names a folder or a
 * file (ISO 9660 / Joliet / Rock Ridge folders, UDF file entries and folder extents) has the type of what it
 * names, and its path starts `path_offset` bytes into its name; every other system part is TYPE_NONE. */
#define QORVEX_EX_TYPE_NONE 0u
#define QORVEX_EX_TYPE_FILE 1u
#define QORVEX_EX_TYPE_FOLDER 2u
#define QORVEX_EX_TYPE_SYMLINK 3u
#define QORVEX_EX_TYPE_SPECIAL 4u /* device, FIFO or socket */

/* Entry kinds of the Rock Ridge catalogue (KIND_ROCKRIDGE, open option OPEN_ROCK_RIDGE). Paths use "\" like the
 * other catalogues and carry the POSIX names (no version suffix). Files, links and special files are in the
 * file walk; folders ("rockridge folder \path\") and the primary descriptor ("PVD") in the system-part walk.
 * Mode, owner, stamps, link target and device number of each entry come from QorvexExGetCurrentFile / Module
 * (QORVEX_EX_POSIX and the other flags tell what was recorded). Folders moved by the writer past the depth
 * limit are listed at their real place and the folder they were moved into (rr_moved) is not listed. */
#define QORVEX_KIND_RR_FILE 21
#define QORVEX_KIND_RR_FOLDER 22
#define QORVEX_KIND_RR_SYMLINK 23 /* size 0; extracting it gives an empty file: hosts make the link themselves */
#define QORVEX_KIND_RR_SPECIAL 24 /* device, FIFO or socket: size 0, to be listed and never created */
#define QORVEX_KIND_RR_PRIMARY_DESCRIPTOR 25

#pragma pack(push, 1)
typedef struct QorvexExEntry {
    uint32_t struct_size; /* set by the caller to sizeof(QorvexExEntry) */
    uint32_t flags;
    uint32_t iso_file_flags; /* the directory record's file flags byte (ISO 9660, Joliet, Rock Ridge) */
    uint32_t mode;           /* POSIX st_mode, with QORVEX_EX_POSIX */
    uint32_t links;
    uint32_t uid;
    uint32_t gid;
    uint64_t serial;
    uint64_t device;
    int64_t modified; /* seconds since 1970 UTC, 64-bit: with QORVEX_EX_HAS_DATE (else 0) */
    int64_t accessed;
    int64_t changed;
    int64_t created;
    uint32_t name_length;   /* bytes of the whole name in the system code page */
    char link_target[4096]; /* UTF-8 / system code page, NUL-terminated; empty when not a link */
    /* Filled when struct_size covers them (a smaller record, of callers built before, is still served). */
    uint32_t type;        /* QORVEX_EX_TYPE_* */
    uint32_t path_offset; /* bytes of the name before the path it names (a system part's fixed prefix) */
} QorvexExEntry;
#pragma pack(pop)

/* Details of the entry the last QorvexGetNextFile (files walk) stood on; 0 or ENGINE_NO_CURRENT_ENTRY. */
int32_t QORVEX_CALL QorvexExGetCurrentFile(QorvexHandle h, QorvexExEntry *entry);
/* The same for the system-parts walk (QorvexGetNextModule). */
int32_t QORVEX_CALL QorvexExGetCurrentModule(QorvexHandle h, QorvexExEntry *entry);
/* How many folders of a track's catalogue were listed but not entered because they lie too deep (the walk
 * stops 256 folders below a root); their contents are missing from the file list. */
int32_t QORVEX_CALL QorvexExGetSkippedFolders(QorvexHandle h, int32_t track, int32_t kind);

/* The label of a track's file system (kind KIND_ISO9660, KIND_JOLIET, KIND_UDF, KIND_ROCKRIDGE; 0 chooses as
 * QorvexGetImageInformation does), whatever its file count: an empty volume has one too. Copies it with a NUL
 * into label (at most size bytes) and answers its length without the NUL; -1 when the track has no such file
 * system. */
int32_t QORVEX_CALL QorvexExGetVolumeLabel(QorvexHandle h, int32_t track, int32_t kind, char *label, int32_t size);

/* Disc sheets (OPEN_DISC_SHEETS): what a sheet says beyond the sectors. Fields of QorvexExGetTrackText; track -1
 * asks for the disc's. */
#define QORVEX_EX_TEXT_TITLE 1
#define QORVEX_EX_TEXT_PERFORMER 2
#define QORVEX_EX_TEXT_ISRC 3    /* a track's */
#define QORVEX_EX_TEXT_CATALOG 4 /* the disc's */
#define QORVEX_EX_TEXT_SHEET 5   /* the disc's sheet ("cue", "toc", "ccd", "mds", "nrg", "cdi") or container ("ecm", "isz", "chd"); empty: plain */
#define QORVEX_EX_TEXT_WARNING 6 /* the disc's: what the sheet's reader had to guess; empty when nothing */
#define QORVEX_EX_TEXT_FILE 16   /* + i: the i-th file holding the track's sectors, as found beside the sheet */

/* Copies the field's text (UTF-8 as the sheet wrote it) with a NUL into text (at most size bytes) and answers its
 * length without the NUL; -1 when the track or field does not exist. */
int32_t QORVEX_CALL QorvexExGetTrackText(QorvexHandle h, int32_t track, int32_t field, char *text, int32_t size);
/* The logical sectors of a track's indexes: [0] index 0 (the pregap start), [1] index 1 (the start), then 2, 3 ...
 * as a sheet gave them. Fills at most count and answers how many there are; -1 for no such track. */
int32_t QORVEX_CALL QorvexExGetTrackIndexes(QorvexHandle h, int32_t track, int32_t *sectors, int32_t count);

/* Copies file `index` of the file walk of (track, kind) - the bytes QorvexExtractCurrentFile2 would write for it -
 * into `output`, a file the caller opened for writing (a descriptor; on Windows a HANDLE), from byte `at` on. The file
 * is neither dated, given attributes nor closed: it stays the caller's. No walk moves and the callback set by
 * QorvexSetCallback is not called: `progress` (may be null) is called with QORVEX_EX_CALLBACK_COPIED, no data and the
 * bytes copied since its last call, after every run of up to 8 MiB, and a 0 answer stops the copy (ENGINE_ABORTED).
 * Several threads may copy through one handle at once: the handle is held only to find the entry. Result codes are
 * those of QorvexExtractCurrentFile2. With QORVEX_EX_COPY_KEEP_OPEN the image files stay open for the next copies
 * (until QorvexExCloseImageFiles or QorvexClose); without it they are closed again, as every other export leaves them.
 */
#define QORVEX_EX_CALLBACK_COPIED 2   /* the callback kind of QorvexExCopyFile's progress */
#define QORVEX_EX_COPY_JOINED 0x0001u /* UDF: all extents of the entry's file, as QorvexExtractCurrentFile2(.., 0) */
#define QORVEX_EX_COPY_KEEP_OPEN 0x0002u
int32_t QORVEX_CALL QorvexExCopyFile(QorvexHandle h, int32_t track, int32_t kind, int32_t index, intptr_t output,
                                     uint64_t at, uint32_t flags, ProgressCallback progress, void *user);
/* Closes the image files QorvexExCopyFile kept open. */
int32_t QORVEX_CALL QorvexExCloseImageFiles(QorvexHandle h);

/* Raw sectors, for verifying and repairing an image. QorvexExGetRawSectorSize answers the bytes of one stored sector
 * of a track (2048 to 2448, subchannel bytes included), -1 for no such track. QorvexExReadRawSectors reads `count`
 * stored sectors of `track` from logical sector `sector` on (FirstHeld .. EndHeld of TrackInfo) by their position in
 * the files, without the address search of OPEN_CHECK_POSITION, into `buffer` (`size` bytes, at least count x the
 * raw sector size), and when `status` is not null writes the QORVEX_EX_SECTOR_* bits of each sector there. It
 * answers the sectors read (fewer when the files end early), or -1 for a bad track, position or buffer. With
 * QORVEX_EX_RAW_REPAIR a sector its P/Q parity can correct is corrected in the buffer. Mode 1 and Mode 2 Form 1
 * sectors are checked for sync, header address, mode, EDC and ECMA-130 P/Q parity; Form 2 for its EDC when it is
 * not zero; a 2448-byte sector's subchannel Q for its CRC (the 96 bytes interleaved or by channel). */
#define QORVEX_EX_RAW_CHECK 0x0001u          /* check every sector (status must not be null) */
#define QORVEX_EX_RAW_REPAIR 0x0002u         /* and correct what P/Q parity can correct */
#define QORVEX_EX_SECTOR_UNCHECKED 0x0001u   /* nothing to check: audio, or a format without sync, header or EDC */
#define QORVEX_EX_SECTOR_SYNC 0x0002u        /* the sync pattern is wrong */
#define QORVEX_EX_SECTOR_ADDRESS 0x0004u     /* the header address is not BCD or not the sector's position */
#define QORVEX_EX_SECTOR_MODE 0x0008u        /* the mode byte is not the track's, or the subheader copies differ */
#define QORVEX_EX_SECTOR_EDC 0x0010u         /* the EDC does not match */
#define QORVEX_EX_SECTOR_ECC 0x0020u         /* a P or Q codeword does not hold */
#define QORVEX_EX_SECTOR_CORRECTABLE 0x0040u /* P/Q parity (and the fixed sync pattern) correct every fault */
#define QORVEX_EX_SECTOR_CORRECTED 0x0080u   /* and the buffer holds the corrected sector (QORVEX_EX_RAW_REPAIR) */
#define QORVEX_EX_SECTOR_SUBCHANNEL 0x0100u  /* the subchannel Q CRC does not match */
#define QORVEX_EX_SECTOR_FORM2 0x1000u       /* (not a fault) a Mode 2 Form 2 sector */
#define QORVEX_EX_SECTOR_NO_EDC 0x2000u      /* (not a fault) a Form 2 sector that records no EDC */
#define QORVEX_EX_SECTOR_FAULTS 0x013Eu      /* the bits that are faults */
int32_t QORVEX_CALL QorvexExGetRawSectorSize(QorvexHandle h, int32_t track);
int32_t QORVEX_CALL QorvexExReadRawSectors(QorvexHandle h, int32_t track, int32_t sector, int32_t count, void *buffer,
                                           int64_t size, uint32_t flags, uint32_t *status);
/* Where the first bytes of a stored sector lie: copies the file's path (NUL-terminated, at most size bytes) and
 * sets *offset to its byte position there; answers the path's length, or -1. (A separate subchannel file is not
 * told: it holds no bytes P/Q parity corrects.) */
int32_t QORVEX_CALL QorvexExGetSectorPlace(QorvexHandle h, int32_t track, int32_t sector, char *path, int32_t size,
                                           int64_t *offset);
/* Ranged reads, for hosts that serve files on demand (a mount): `size` bytes of file `index` of the file walk of
 * (track, kind) - of the bytes QorvexExCopyFile copies, with the same flags - from byte `offset` on into `buffer`.
 * Only the sectors that hold them are read (a zisofs file has only the blocks that hold them decoded; a UDF file
 * with QORVEX_EX_COPY_JOINED is read across its extents). *done is the bytes read, fewer than size only at the
 * end of the file. 0 or a result code of QorvexExtractCurrentFile2 (ENGINE_READ_FAILED for an unreadable range,
 * *done then 0). Several threads may read through one handle at once; QORVEX_EX_COPY_KEEP_OPEN as for the copy. */
int32_t QORVEX_CALL QorvexExReadFile(QorvexHandle h, int32_t track, int32_t kind, int32_t index, uint64_t offset,
                                     void *buffer, uint32_t size, uint32_t flags, uint32_t *done);
/* Where bytes of such a file lie as they are, for hosts that hand them on without reading them through the engine:
 * when byte `offset` of file `index` of the file walk of (track, kind) (counted as QorvexExReadFile counts with the
 * same flags) is stored byte for byte in an image file, copies that file's path (NUL-terminated, at most size
 * bytes), sets *at to the byte there and *length to how many bytes of the file follow it there unchanged (to the
 * end of its extent or of that image file), and answers the path's length. -1 when they are not stored so (sectors
 * holding more than user data, a container, a check to apply, a zisofs file, bytes beyond the image's end, at or
 * past the file's end): QorvexExReadFile reads them. */
int32_t QORVEX_CALL QorvexExGetFilePlace(QorvexHandle h, int32_t track, int32_t kind, int32_t index, uint64_t offset,
                                         uint32_t flags, char *path, int32_t size, int64_t *at, uint64_t *length);
/* The same for a whole track as QorvexExtractTrack writes it with `flags` (TRACK_RAW, TRACK_PREGAP; the WAV
 * header of TRACK_WAV is never part of it: hosts put it in front themselves), and QORVEX_EX_COPY_KEEP_OPEN; *total
 * (may be null) receives the length of the whole, also for size 0. ENGINE_BAD_TRACK for no such track. */
int32_t QORVEX_CALL QorvexExReadTrack(QorvexHandle h, int32_t track, uint64_t offset, void *buffer, uint32_t size,
                                      uint32_t flags, uint32_t *done, uint64_t *total);
/* Salvage (OPEN_SALVAGE). QorvexExCopyFile with QORVEX_EX_COPY_ZERO_FILL writes zeros for the sectors that cannot
 * be read (beyond the image's end, or failing to read or their EDC check) and goes on; without it such a copy fails
 * as before. */
#define QORVEX_EX_COPY_ZERO_FILL 0x0004u

/* A run of missing bytes of a file: [offset, offset + length). */
typedef struct QorvexExRange {
    uint64_t offset;
    uint64_t length;
} QorvexExRange;

/* The byte ranges of file `index` of the file walk of (track, kind) that the image does not hold (index -1: the
 * entry the file walk stands on), in order, counted in the bytes QorvexExCopyFile gives with the same
 * QORVEX_EX_COPY_JOINED flag. Without QORVEX_EX_DAMAGE_READ only what the open found (data beyond the image's end)
 * is told, at no cost; with it every sector of the file is read as well and those that fail (with OPEN_CHECK_EDC:
 * their EDC) are added. Index -1 stands for the file the walk stands on (in the walk's track and kind). Fills at most
 * `count` ranges and answers how many there are (0: the file is whole), or a negative result code. */
#define QORVEX_EX_DAMAGE_READ 0x0100u
int32_t QORVEX_CALL QorvexExGetDamage(QorvexHandle h, int32_t track, int32_t kind, int32_t index, uint32_t flags,
                                      QorvexExRange *ranges, int32_t count);

/* What an open with OPEN_SALVAGE made of a track that was cut short or damaged. */
#define QORVEX_EX_SALVAGED 0x0001u     /* anything at all was salvaged on this track */
#define QORVEX_EX_SALVAGE_CUT 0x0002u  /* the image ends before the end its structures record */
#define QORVEX_EX_SALVAGE_PART 0x0004u /* an incomplete last sector was left out (part_bytes) */
typedef struct QorvexExSalvage {
    uint32_t struct_size; /* set by the caller to sizeof(QorvexExSalvage) */
    uint32_t flags;
    int64_t held_end;     /* logical sector just after the last one the image holds */
    int64_t recorded_end; /* the end the structures record (ISO 9660 volume space, UDF partition); 0: none */
    int64_t part_bytes;   /* bytes of an incomplete last sector */
    int32_t failed;       /* structures (descriptors, folders, tables) that could not be read */
    char notes[2048];     /* UTF-8 lines: what failed and the fallback used; NUL-terminated */
} QorvexExSalvage;
/* Fills `salvage` for a track; 0, ENGINE_BAD_TRACK or ENGINE_BAD_KIND for a record too small. */
int32_t QORVEX_CALL QorvexExGetSalvage(QorvexHandle h, int32_t track, QorvexExSalvage *salvage);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QORVEX_EXT_H */
