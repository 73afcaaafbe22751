#pragma once

/*
 * The C interface of the native serial module zspWin, shared by the module and by the loader in
 * src/serial. Every entry point returns plain codes; nothing is ever thrown across it.
 *
 * "handle" is the 1-based port number that SerOpenPort writes into the record, minus one.
 * Unless a function says otherwise, -1 means failure.
 */

#include <stdint.h>

#if defined(_WIN32)
#define ZSP_EXPORT __declspec(dllexport)
#else
#define ZSP_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Codes returned by SerOpenPort, SerConfigure and SerResetPortDriver. */
enum {
    ZSP_OK = 0,
    ZSP_ERR_ALREADY_OPEN = 1000, /* this process has the device open already */
    ZSP_ERR_BAD_HANDLE = 1001,   /* the record's port number names no open port */
    ZSP_ERR_IN_USE = 1002,       /* another program holds the device */
    ZSP_ERR_NOT_VALID = 1003,    /* not a serial device, or an unusable name */
    ZSP_ERR_NOT_FOUND = 1004,    /* no device node of that name */
    ZSP_ERR_TOO_MANY = 1005,     /* the handle table is full */
    ZSP_ERR_PERMISSION = 1006,
    ZSP_ERR_BUSY = 1007,        /* the driver refused: busy */
    ZSP_ERR_NO_DEVICE = 1008,   /* the node exists but no device answers behind it */
    ZSP_ERR_BAD_SETTING = 1009, /* a line setting out of range or not offered by the device */
    ZSP_ERR_UNSUPPORTED = 1010, /* the operation does not exist on this host */
    ZSP_ERR_INTERNAL = 1011,    /* unexpected failure inside the module */
    ZSP_ERR_TIMEOUT = 1012,     /* a write did not finish within the transmit timeout */
    ZSP_ERR_SYSTEM = 2000       /* 2000 + the system's error number */
};

/* What ended a SerWaitPort, or-ed together; 0 when its timeout passed first. */
enum {
    ZSP_WAIT_INPUT = 1,  /* bytes are waiting to be read */
    ZSP_WAIT_HANGUP = 2, /* the device hung up or reported an error: it has most likely gone */
    ZSP_WAIT_WOKEN = 4   /* SerWakePort was called since the last wait ended */
};

/* Power-mode codes of SerGetPowerMode / SerSetPowerMode. */
enum { ZSP_PWR_STANDBY = 0, ZSP_PWR_ACTIVE = 1 };

enum { ZSP_MAX_PORTS = 64, ZSP_MAX_NAME = 1024 };

/* The port settings record as the module sees it. Text fields are byte strings with an explicit
 * length (no terminator needed). */
typedef struct ZspConfig {
    int32_t port; /* out of SerOpenPort: the 1-based port number; in: the number when no name is given */
    const char* portName;
    int32_t portNameLength;
    const char* baseName; /* device-name prefix used with a bare port number ("/dev/ttyS") */
    int32_t baseNameLength;
    int32_t txLen;
    int32_t rxLen;
    int32_t bitRate;   /* index 0-14 into the standard rates, or a literal rate above 30 */
    int32_t parity;    /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
    int32_t dataBits;  /* code + 5 bits */
    int32_t stopBits;  /* code + 1 bits */
    int32_t handshake; /* 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 DSR/DTR, or the split flags 0x10-0x80 */
    int32_t hardFlow;
    int32_t disableActiveLink;
} ZspConfig;

/* Where SerGetPortList reports the ports it finds. The roots default to "/sys" and "/dev" when null. */
typedef struct ZspPortSink {
    void* context;
    void (*addPortName)(void* context, const char* name);
    void (*addPortInfo)(void* context, const char* name, const char* manufacture, const char* description);
    const char* sysRoot;
    const char* devRoot;
} ZspPortSink;

/* SerWaitPort blocks until bytes can be read, the device hangs up, SerWakePort is called for the port or
 * timeoutMs milliseconds pass (negative: no limit), and answers the ZSP_WAIT_ bits of what happened. A
 * wake-up that comes while nobody waits ends the next wait at once, so a caller that checks a stop flag and
 * then waits cannot miss the wake-up of a stop that came in between. -1 on a bad handle or a failed wait;
 * ZSP_ERR_UNSUPPORTED where the host cannot wait on a port (the caller polls SerRxReadyCount instead).
 * SerWakePort may be called from any thread; closing the port wakes its waiter too. (POSIX: poll() on the
 * device and an eventfd; Win32: an overlapped WaitCommEvent for EV_RXCHAR | EV_ERR and an event object.)
 *
 * SerGetData (and SerGetByte) stop after a byte that arrived with a parity or framing error, so the error
 * signals read right after a block belong to its last byte. */

/* SerServerTask serves the port the record names for as long as it runs and stores the 1-based port
 * number into config->port (atomically) once the port is ready. */

/* Called on a thread of the module when a serial device node appears or disappears. */
typedef void (*ZspDeviceNotification)(void* context);

/* The entry points: result type, name, parameters. The loader fills a ZspApi table from the same list. */
#define ZSP_FUNCTIONS(X)                                                                         \
    X(int32_t, SerOpenPort, (ZspConfig * config))                                                \
    X(int32_t, SerConfigure, (const ZspConfig* config))                                          \
    X(int32_t, SerClosePort, (int32_t handle))                                                   \
    X(int32_t, SerGetByte, (int32_t handle))                                                     \
    X(int32_t, SerGetData, (int32_t handle, uint8_t * buffer, int32_t count))                    \
    X(int32_t, SerWaitPort, (int32_t handle, int32_t timeoutMs))                                 \
    X(int32_t, SerWakePort, (int32_t handle))                                                    \
    X(int32_t, SerPutByte, (int32_t handle, uint8_t value))                                      \
    X(int32_t, SerPutData, (int32_t handle, const uint8_t* data, int32_t count))                 \
    X(int32_t, SerRxFlush, (int32_t handle))                                                     \
    X(int32_t, SerTxFlush, (int32_t handle))                                                     \
    X(int32_t, SerTxDrain, (int32_t handle))                                                     \
    X(int32_t, SerRxReadyCount, (int32_t handle))                                                \
    X(int32_t, SerTxBufCount, (int32_t handle))                                                  \
    X(int32_t, SerRxOverflow, (int32_t handle))                                                  \
    X(int32_t, SerSigBreak, (int32_t handle))                                                    \
    X(int32_t, SerSigCD, (int32_t handle))                                                       \
    X(int32_t, SerSigCTS, (int32_t handle))                                                      \
    X(int32_t, SerSigDSR, (int32_t handle))                                                      \
    X(int32_t, SerSigFrameErr, (int32_t handle))                                                 \
    X(int32_t, SerSigOverrun, (int32_t handle))                                                  \
    X(int32_t, SerSigParityErr, (int32_t handle))                                                \
    X(int32_t, SerSigRing, (int32_t handle))                                                     \
    X(int32_t, SerSetDTR, (int32_t handle, int32_t on))                                          \
    X(int32_t, SerSetRTS, (int32_t handle, int32_t on))                                          \
    X(int32_t, SerSendBreak, (int32_t handle, int32_t milliseconds))                             \
    X(int32_t, SerSetTimeoutRx, (int32_t handle, int32_t milliseconds))                          \
    X(int32_t, SerSetTimeoutTx, (int32_t handle, int32_t milliseconds))                          \
    X(int32_t, SerGetTimeoutRx, (int32_t handle))                                                \
    X(int32_t, SerGetTimeoutTx, (int32_t handle))                                                \
    X(int32_t, SerResetPortDriver, (int32_t portNumber))                                         \
    X(int32_t, SerGetPortList, (const ZspPortSink* sink))                                        \
    X(int32_t, SerGetName, (int32_t portNumber, char* buffer, int32_t size))                     \
    X(int32_t, SerGetLibVer, (void))                                                             \
    X(int32_t, SerGetInstanceLock, (void))                                                       \
    X(int32_t, SerSetInstanceLock, (int32_t value))                                              \
    X(int32_t, SerGetPowerMode, (int32_t portNumber))                                            \
    X(int32_t, SerSetPowerMode, (int32_t portNumber, int32_t mode))                              \
    X(int32_t, SerGetResumeState, (int32_t portNumber))                                          \
    X(int32_t, SerGetStatusAPM, (void))                                                          \
    X(int32_t, SerFlowTask, (int32_t handle))                                                    \
    X(int32_t, SerServerTask, (ZspConfig * config))                                              \
    X(int32_t, SerRegisterDeviceNotification,                                                    \
      (ZspDeviceNotification callback, void* context, const char* devRoot))                      \
    X(int32_t, SerUnregisterDeviceNotification, (ZspDeviceNotification callback, void* context)) \
    X(int32_t, SerGetPortMfgr, (int32_t portNumber, char* buffer, int32_t size))

#define ZSP_DECLARE_FUNCTION(result, name, params) ZSP_EXPORT result name params;
ZSP_FUNCTIONS(ZSP_DECLARE_FUNCTION)
#undef ZSP_DECLARE_FUNCTION

/* One pointer per entry point, in list order. */
typedef struct ZspApi {
#define ZSP_TABLE_FIELD(result, name, params) result(*name) params;
    ZSP_FUNCTIONS(ZSP_TABLE_FIELD)
#undef ZSP_TABLE_FIELD
} ZspApi;

/* SerGetLibVer: major * 10000 + minor * 100 + patch. */
#define ZSP_LIB_VERSION 10000

#ifdef __cplusplus
}
#endif
