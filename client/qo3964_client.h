/* SPDX-License-Identifier: MIT */
/*
 * qo3964_client: the client library of qo3964_server.
 *
 * An application attaches to the shared memory segment of up to ten running
 * servers (one serial line each), addressed by a handle from 0 to 9. It
 * hands telegrams of up to 4096 bytes to a server for sending under the
 * 3964/3964R procedure, fetches the telegrams the server has received, and
 * turns every result into a German or an English text.
 *
 * Plain C; usable from C and C++. The library needs no C++ runtime: link it
 * with the C compiler alone (pkg-config --cflags --libs qo3964_client, or
 * find_package(qo3964_client) and the target qo3964_client::qo3964_client).
 * The same calls come as a static library and as the shared object
 * libqo3964_client.so.1 (CMake target qo3964_client::qo3964_client_shared).
 *
 * All results are ints: 0 or a positive value for success or progress, a
 * negative code (QO3964_ERR_...) for failure. The library starts no threads
 * and takes no locks; use one handle from one thread at a time.
 */
#ifndef QO3964_CLIENT_H
#define QO3964_CLIENT_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Version of this release of qo3964 (library, header, server and tools).
 * The version text of qo7_version() and of the server's identification,
 * "V 1.0.1", is that of the interface between them and stays as it is.
 */
#define QO3964_VERSION_MAJOR 1
#define QO3964_VERSION_MINOR 1
#define QO3964_VERSION_PATCH 0
#define QO3964_VERSION_STRING "1.1.0"

/* Handles are 0 to QO3964_MAX_HANDLES - 1. */
#define QO3964_MAX_HANDLES 10
/* The longest telegram: the data area of a job block in the segment. */
#define QO3964_TELEGRAM_MAX 4096
/* Size of the record that qo3964m_svr_info fills. */
#define QO3964_SERVER_INFO_SIZE 1024

/*
 * Result codes of the library calls. The server's link-layer codes reach
 * the caller unchanged through qo3964m_send, qo3964m_send_control and
 * qo3964m_receive. qo3964_errortext_en() gives the text of any code.
 */
enum qo3964_result {
    QO3964_TASK_IDLE = 4,            /* send_control: no send outstanding */
    QO3964_SEND_DONE = 2,            /* send acknowledged by the partner */
    QO3964_SEND_STARTED = 1,         /* send_strt: telegram handed to the server */
    QO3964_IN_WORK = 0,              /* send under way; receive: nothing waiting */

    QO3964_ERR_TOO_SMALL = -11,      /* telegram over 4096 bytes, bad length or
                                        address, or receive buffer too small */
    QO3964_ERR_JOB_RUNNING = -26,    /* the server still holds an earlier send */
    QO3964_ERR_BAD_HANDLE = -50,     /* handle outside 0 to 9 */
    QO3964_ERR_NO_RCFILE = -51,      /* rc-file cannot be opened */
    QO3964_ERR_RCFILE = -52,         /* error in the rc-file */
    QO3964_ERR_NO_SHM = -53,         /* segment not found or not attachable */
    QO3964_ERR_BREAK = -55,          /* server: BREAK on the line */
    QO3964_ERR_PARITY = -56,         /* server: parity or framing error */
    QO3964_ERR_LINE = -57,           /* server: other line error */
    QO3964_ERR_NO_ACK = -67,         /* server: no DLE after the telegram */
    QO3964_ERR_RX_OVERFLOW = -81,    /* server: received telegram too long */
    QO3964_ERR_RX_BCC = -82,         /* server: BCC or line error in a telegram */
    QO3964_ERR_RX_OCCUPIED = -83,    /* server: telegram refused, buffer occupied */
    QO3964_ERR_NO_CONNECT = -84,     /* server: STX not answered by the partner */
    QO3964_ERR_RX_ZVZ = -85,         /* server: character delay time exceeded */
    QO3964_ERR_RX_NO_BCC = -86,      /* server: BCC not received in time */
    QO3964_ERR_NOT_ATTACHED = -98,   /* handle not opened, or closed */
    QO3964_ERR_TIMEOUT = -99,        /* the time-out of a send ran out */
    QO3964_ERR_SHUTDOWN = -100       /* the server has stopped */
};

/*
 * The server's identification block, as qo3964m_svr_info copies it:
 * NUL-terminated texts in fixed fields, then two small numbers.
 */
struct qo3964_server_info {
    char server_name[16];             /* "qo3964_server" */
    char server_version[16];          /* "V 1.0.1" */
    char server_date[16];             /* "09.06.2009" */
    unsigned char reserved_48[32];
    unsigned char reserved_80[32];
    unsigned char word_bits;          /* the server's word width: 32 */
    unsigned char info_code;          /* 2 */
    unsigned char reserved_114[910];
};

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(struct qo3964_server_info) == QO3964_SERVER_INFO_SIZE,
              "identification block must be 1024 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(struct qo3964_server_info) == QO3964_SERVER_INFO_SIZE,
               "identification block must be 1024 bytes");
#endif

/*
 * Debug level of the library, set from the rc-file key CLIENTDEBUG (0 to
 * 10): open progress lines when not 0, rc-file echo above 0, send traces
 * above 1. All output goes to standard output.
 */
extern int debug;
/* Bytes asked for when the segment is looked up (9444). */
extern int shm_size;

/*
 * Attaches `handle` to the server that the rc-file `rcfile` describes:
 * the keys PORT and SHMNAME name the key file of the segment (SHMNAME,
 * else the PORT device, else "/dev/ttyS1"), CLIENTDEBUG sets `debug`.
 * Other keys are the server's and are passed over. A handle that is
 * attached gives up its old segment once the rc-file has been read; an
 * rc-file that cannot be read (-51, -52) leaves the old attachment.
 * Returns 0 attached; -50 bad handle; -51 rc-file cannot be opened;
 * -52 error in the rc-file; -53 no segment for the key, or not attachable.
 */
int qo3964m_open_shm(int handle, const char *rcfile);

/*
 * Detaches the handle. A send or reception under way stays with the server.
 * Returns 0 (also when the handle was not attached); -50 bad handle.
 */
int qo3964m_close_shm(int handle);

/*
 * Copies the server's identification block (QO3964_SERVER_INFO_SIZE bytes,
 * see struct qo3964_server_info) into `destination`. Before anything else
 * the record is pre-filled with "--NONE--" and "----", so it always holds
 * readable texts.
 * Returns 0 filled; -50 bad handle; -98 handle not attached; -11 null
 * destination.
 */
int qo3964m_svr_info(int handle, void *destination);

/* Writes the library version "V 1.0.1" (8 bytes with the NUL) into
 * `buffer` and returns it. */
char *qo7_version(char *buffer);
/* The same as qo7_version. */
char *qo_version(char *buffer);

/*
 * The release of the library that is linked or loaded, "1.1.0": the same
 * as QO3964_VERSION_STRING of the header it was built with. A program that
 * loads the shared library at run time can compare it with what it expects.
 * The text is constant; the caller must not change or free it.
 */
const char *qo3964_library_version(void);

/*
 * Sends a telegram of `length` bytes (0 to 4096) and waits until the
 * partner has acknowledged it or the server reports the failure.
 * `timeout_seconds` of 0 or less waits without limit.
 * Returns 2 sent and acknowledged; a negative code of the server (-55,
 * -67, -84, ...); -11 bad length or address; -26 an earlier send is still
 * under way; -50; -98; -99 time-out (the telegram may still be sent; its
 * result can be collected with qo3964m_send_control); -100.
 */
int qo3964m_send(int handle, const void *telegram, int length, int timeout_seconds);

/*
 * Hands a telegram to the server and returns at once; poll the result
 * with qo3964m_send_control.
 * Returns 1 handed over; -11; -26; -50; -98; -99 (time-out before the
 * hand-over); -100.
 */
int qo3964m_send_strt(int handle, const void *telegram, int length, int timeout_seconds);

/*
 * Asks for the result of the latest send. A finished result is given
 * back once; the block is then free again.
 * Returns 0 still under way; 2 finished and acknowledged; a negative code
 * of the server for a failed send; 4 no send outstanding; -50; -98; -100.
 */
int qo3964m_send_control(int handle);

/*
 * Fetches a received telegram into `buffer` of `size` bytes. Never waits.
 * Returns the number of bytes delivered (a telegram may have 0 bytes);
 * 0 also when nothing is waiting; a negative receive code of the server
 * (-55, -56, -81 to -86; bytes that came with it are still copied); -11
 * buffer too small or null (the telegram stays waiting); -50; -98; -100.
 */
int qo3964m_receive(int handle, void *buffer, int size);

/*
 * As qo3964m_receive, but waits up to `timeout_ms` milliseconds for a
 * telegram (0 or less: does not wait). The server wakes the wait when a
 * telegram arrives.
 * Returns 0 when none came in time (and, as qo3964m_receive, for a
 * telegram of 0 bytes); -100 when the server stops meanwhile; otherwise
 * what qo3964m_receive returns.
 */
int qo3964m_receive_wait(int handle, void *buffer, int size, int timeout_ms);

/*
 * Text of any result code, German or English. The address is that of a
 * static buffer of the call, overwritten by its next call; the German and
 * the English call use separate buffers.
 */
char *qo3964_errortext(int code);
char *qo3964_errortext_en(int code);

/* German message for the result of a connection set-up, in a static
 * buffer of its own. */
char *clinit_result(int code);

#ifdef __cplusplus
}
#endif

#endif /* QO3964_CLIENT_H */
