/*
 * The control interface of korvo-driver, the test driver that stands in for
 * a KORVO device on Windows and Wine. Shared by the driver (kernel mode) and
 * by the test programs that configure it and read back what it received.
 *
 * The driver presents, for each of two units:
 *   - the KORVO device itself: a root-enumerated device with an interface of
 *     the USB device class, opened by its interface path as a program opens a
 *     real one. One open at a time; it answers the port-status request and
 *     takes writes. Its interface can be disabled and enabled again, which
 *     is what unplugging and plugging it in looks like to SetupAPI;
 *   - its control device, open to any number of callers, which takes the
 *     requests below: \\.\KorvoTestControl for unit 0 (instance 0000),
 *     \\.\KorvoTestControl1 for unit 1 (instance 0001, unplugged until it
 *     is configured present).
 *
 * Plain C with fixed-size fields, so that 32-bit and 64-bit callers and
 * drivers agree on every layout.
 */
#ifndef KORVO_DRIVER_CONTROL_H
#define KORVO_DRIVER_CONTROL_H

#define KORVO_CONTROL_DOS_NAME "\\\\.\\KorvoTestControl"
#define KORVO_CONTROL1_DOS_NAME "\\\\.\\KorvoTestControl1"

/* Control codes: FILE_DEVICE_UNKNOWN, functions from 0x900, METHOD_BUFFERED,
 * FILE_ANY_ACCESS, written out so that no header is needed to agree on them. */
#define KORVO_CONTROL_CODE(function) (0x00220000u | ((function) << 2))

/* Input: KorvoDeviceSettings. Replaces the settings, forgets what was
 * received, resets the counters and ends a held write as cancelled. Until
 * it is first configured the device is present and answers status 0. */
#define KORVO_IOCTL_CONFIGURE KORVO_CONTROL_CODE(0x900u)
/* Input: the offset (unsigned 64-bit). Output: the received bytes from
 * there on, as many as fit. */
#define KORVO_IOCTL_READ_RECEIVED KORVO_CONTROL_CODE(0x901u)
/* Output: KorvoDeviceCounters. */
#define KORVO_IOCTL_GET_COUNTERS KORVO_CONTROL_CODE(0x902u)
/* Input: an NTSTATUS (signed 32-bit). Ends the held write with it. */
#define KORVO_IOCTL_RELEASE_HELD_WRITE KORVO_CONTROL_CODE(0x903u)

/* Status values are NTSTATUS codes; 0 (STATUS_SUCCESS) means "do not fail". */
typedef struct KorvoDeviceSettings {
  unsigned int statusByte;          /* the port-status reply */
  int statusFailure;                /* fails every port-status request */
  unsigned int holdWrites;          /* nonzero: writes wait until cancelled */
  int writeFailure;                 /* how a write past failWriteAfter fails */
  unsigned long long failWriteAfter; /* bytes taken before writes fail */
  unsigned long long maxWriteLength; /* longer writes fail whole; 0: no limit */
  int oversizeFailure;              /* how a write over maxWriteLength fails */
  unsigned int present;             /* zero: its interface is disabled */
  unsigned long long writeDelayMs;  /* each write waits this long first: a slow device */
} KorvoDeviceSettings;

/* What the device saw since it was last configured. */
typedef struct KorvoDeviceCounters {
  unsigned long long received;      /* bytes taken */
  unsigned long long largestWrite;  /* the longest write asked for */
  unsigned int opens;               /* opens that succeeded */
  unsigned int refusedOpens;        /* opens refused while it was held; */
                                    /* requests on them fail too */
  unsigned int openNow;             /* 1 while a program holds it */
  unsigned int statusRequests;
  unsigned int writes;              /* write requests, whatever their end */
  unsigned int heldWrites;
  unsigned int cancelledWrites;
  unsigned int reserved;
} KorvoDeviceCounters;

#endif /* KORVO_DRIVER_CONTROL_H */
