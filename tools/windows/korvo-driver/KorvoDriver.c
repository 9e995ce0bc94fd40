/*
 * korvo-driver: a kernel-mode driver that stands in for a KORVO device, so
 * that korvo-test.exe can be tested behind a real driver (under Wine, or on a
 * Windows test machine that accepts test-signed drivers).
 *
 * It is the function driver of a root-enumerated device. For that device it
 * registers an interface of the USB device class, so programs find it with
 * SetupAPI and open it by its interface path as they do a real device. The
 * device
 *   - is exclusive: a second open is refused with STATUS_ACCESS_DENIED, and
 *     so is every request made through it. (Wine hands out the handle before
 *     the driver has seen the open and drops its answer, so there the
 *     refusal shows on the first request instead of at CreateFile.)
 *   - answers the port-status request 0x220030 with a set status byte, or
 *     fails it with a set status;
 *   - keeps every byte it is sent, for the control device to read back;
 *   - can fail a write once a set number of bytes has arrived, fail writes
 *     longer than a set length, hold writes until they are cancelled, or
 *     take a set time over each write.
 * Its behaviour is set through the control device (KorvoDriverControl.h).
 *
 * One KORVO device per driver: the settings and what was received are the
 * driver's, kept under one spin lock.
 */
#include <ntddk.h>

#include "KorvoDriverControl.h"

/* GUID_DEVINTERFACE_USB_DEVICE */
static const GUID kUsbDeviceInterface = {
    0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

/* IOCTL_USBPRINT_GET_LPT_STATUS */
#define KORVO_GET_PORT_STATUS 0x220030u

/* The received bytes are kept in memory; more than this is refused. */
#define MAX_RECEIVED (512ull << 20)
#define POOL_TAG 0x766f724bu /* "Korv" */

typedef struct DeviceExtension {
  BOOLEAN isControl;
  DEVICE_OBJECT *lower;          /* the KORVO device: the device below it */
  UNICODE_STRING interfaceName;  /* the KORVO device: its interface */
} DeviceExtension;

static KSPIN_LOCK g_lock;
static KorvoDeviceSettings g_settings;
static KorvoDeviceCounters g_counters;
static unsigned char *g_received;
static SIZE_T g_receivedCapacity;
static IRP *g_heldWrite;
static FILE_OBJECT *g_holder;            /* the open that was let in */
static DEVICE_OBJECT *g_controlDevice;
static UNICODE_STRING *g_interfaceName;  /* the KORVO device's interface */
static BOOLEAN g_present = TRUE;

static UNICODE_STRING g_controlName = RTL_CONSTANT_STRING(L"\\Device\\KorvoTestControl");
static UNICODE_STRING g_controlLink = RTL_CONSTANT_STRING(L"\\DosDevices\\KorvoTestControl");

static NTSTATUS Complete(IRP *irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static DeviceExtension *ExtensionOf(DEVICE_OBJECT *device) {
  return (DeviceExtension *)device->DeviceExtension;
}

/* Appends to the received bytes; called under the lock. False when they
 * cannot be kept. */
static BOOLEAN KeepReceived(const unsigned char *data, SIZE_T length) {
  SIZE_T needed = (SIZE_T)g_counters.received + length;
  if (needed > MAX_RECEIVED) return FALSE;
  if (needed > g_receivedCapacity) {
    SIZE_T capacity = g_receivedCapacity ? g_receivedCapacity : (1u << 20);
    while (capacity < needed) capacity *= 2;
    unsigned char *grown = ExAllocatePoolWithTag(NonPagedPool, capacity, POOL_TAG);
    if (!grown) return FALSE;
    if (g_received) {
      RtlCopyMemory(grown, g_received, (SIZE_T)g_counters.received);
      ExFreePoolWithTag(g_received, POOL_TAG);
    }
    g_received = grown;
    g_receivedCapacity = capacity;
  }
  RtlCopyMemory(g_received + g_counters.received, data, length);
  g_counters.received += length;
  return TRUE;
}

/* --- The KORVO device ---------------------------------------------------- */

static NTSTATUS KorvoCreate(IRP *irp, IO_STACK_LOCATION *stack) {
  KIRQL irql;
  NTSTATUS status = STATUS_SUCCESS;
  KeAcquireSpinLock(&g_lock, &irql);
  if (g_holder) {
    ++g_counters.refusedOpens;
    status = STATUS_ACCESS_DENIED;  /* held by another program */
  } else {
    g_holder = stack->FileObject;
    g_counters.openNow = 1;
    ++g_counters.opens;
  }
  KeReleaseSpinLock(&g_lock, irql);
  return Complete(irp, status, 0);
}

static NTSTATUS KorvoClose(IRP *irp, IO_STACK_LOCATION *stack) {
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  if (stack->FileObject == g_holder) {
    g_holder = NULL;
    g_counters.openNow = 0;
  }
  KeReleaseSpinLock(&g_lock, irql);
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* True when the request comes through the open that was let in. */
static BOOLEAN FromHolder(IO_STACK_LOCATION *stack) {
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  BOOLEAN holder = stack->FileObject == g_holder;
  KeReleaseSpinLock(&g_lock, irql);
  return holder;
}

static NTSTATUS KorvoPortStatus(IRP *irp, IO_STACK_LOCATION *stack) {
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  ++g_counters.statusRequests;
  NTSTATUS failure = g_settings.statusFailure;
  UCHAR statusByte = (UCHAR)g_settings.statusByte;
  KeReleaseSpinLock(&g_lock, irql);

  if (failure != STATUS_SUCCESS) return Complete(irp, failure, 0);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < 1) {
    return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  }
  *(UCHAR *)irp->AssociatedIrp.SystemBuffer = statusByte;
  return Complete(irp, STATUS_SUCCESS, 1);
}

static void NTAPI CancelHeldWrite(DEVICE_OBJECT *device, IRP *irp) {
  KIRQL irql;
  (void)device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&g_lock, &irql);
  if (g_heldWrite == irp) g_heldWrite = NULL;
  ++g_counters.cancelledWrites;
  KeReleaseSpinLock(&g_lock, irql);
  Complete(irp, STATUS_CANCELLED, 0);
}

/* Ends the held write, if any, with `status`; nothing is taken from it. */
static void ReleaseHeldWrite(NTSTATUS status) {
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  IRP *irp = g_heldWrite;
  g_heldWrite = NULL;
  KeReleaseSpinLock(&g_lock, irql);
  /* A write being cancelled right now belongs to its cancel routine. */
  if (irp && IoSetCancelRoutine(irp, NULL)) Complete(irp, status, 0);
}

static NTSTATUS KorvoWrite(IRP *irp, IO_STACK_LOCATION *stack) {
  const unsigned char *data = irp->AssociatedIrp.SystemBuffer;
  ULONG length = stack->Parameters.Write.Length;
  KIRQL irql;

  /* Writes come at PASSIVE_LEVEL, in the writer's thread: it waits here. */
  KeAcquireSpinLock(&g_lock, &irql);
  LARGE_INTEGER delay;
  delay.QuadPart = -10000LL * (LONGLONG)g_settings.writeDelayMs;
  KeReleaseSpinLock(&g_lock, irql);
  if (delay.QuadPart) KeDelayExecutionThread(KernelMode, FALSE, &delay);

  KeAcquireSpinLock(&g_lock, &irql);
  ++g_counters.writes;
  if (length > g_counters.largestWrite) g_counters.largestWrite = length;

  if (g_settings.holdWrites) {
    ++g_counters.heldWrites;
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CancelHeldWrite);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
      /* Cancelled before the routine was in place. */
      ++g_counters.cancelledWrites;
      KeReleaseSpinLock(&g_lock, irql);
      Complete(irp, STATUS_CANCELLED, 0);
      return STATUS_PENDING;
    }
    g_heldWrite = irp;
    KeReleaseSpinLock(&g_lock, irql);
    return STATUS_PENDING;
  }

  if (g_settings.maxWriteLength && length > g_settings.maxWriteLength) {
    NTSTATUS failure = g_settings.oversizeFailure;
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, failure, 0);
  }

  /* Take what fits before the failure point, then fail the rest. */
  ULONG taken = length;
  NTSTATUS status = STATUS_SUCCESS;
  if (g_counters.received + length > g_settings.failWriteAfter) {
    taken = g_counters.received < g_settings.failWriteAfter
                ? (ULONG)(g_settings.failWriteAfter - g_counters.received)
                : 0;
    status = g_settings.writeFailure;
  }
  if (taken && !KeepReceived(data, taken)) {
    taken = 0;
    status = STATUS_INSUFFICIENT_RESOURCES;
  }
  KeReleaseSpinLock(&g_lock, irql);
  return Complete(irp, status, taken);
}

static NTSTATUS KorvoPnp(DEVICE_OBJECT *device, IRP *irp, IO_STACK_LOCATION *stack) {
  DeviceExtension *extension = ExtensionOf(device);
  DEVICE_OBJECT *lower = extension->lower;

  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      g_interfaceName = &extension->interfaceName;
      if (g_present) IoSetDeviceInterfaceState(&extension->interfaceName, TRUE);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_REMOVE_DEVICE: {
      IoSetDeviceInterfaceState(&extension->interfaceName, FALSE);
      g_interfaceName = NULL;
      RtlFreeUnicodeString(&extension->interfaceName);
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoSkipCurrentIrpStackLocation(irp);
      NTSTATUS status = IoCallDriver(lower, irp);
      IoDetachDevice(lower);
      IoDeleteDevice(device);
      return status;
    }
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(lower, irp);
}

/* --- The control device -------------------------------------------------- */

static NTSTATUS ControlRequest(IRP *irp, IO_STACK_LOCATION *stack) {
  void *buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  KIRQL irql;

  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case KORVO_IOCTL_CONFIGURE: {
      if (inputLength != sizeof(KorvoDeviceSettings)) break;
      ReleaseHeldWrite(STATUS_CANCELLED);
      KeAcquireSpinLock(&g_lock, &irql);
      RtlCopyMemory(&g_settings, buffer, sizeof g_settings);
      ULONG openNow = g_counters.openNow;
      RtlZeroMemory(&g_counters, sizeof g_counters);
      g_counters.openNow = openNow;
      BOOLEAN present = g_settings.present != 0;
      KeReleaseSpinLock(&g_lock, irql);
      /* Plugged in or unplugged, as far as SetupAPI can tell. */
      if (present != g_present && g_interfaceName) {
        IoSetDeviceInterfaceState(g_interfaceName, present);
      }
      g_present = present;
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case KORVO_IOCTL_READ_RECEIVED: {
      if (inputLength != sizeof(ULONGLONG)) break;
      ULONGLONG offset = *(const ULONGLONG *)buffer;
      ULONG count = 0;
      KeAcquireSpinLock(&g_lock, &irql);
      if (offset < g_counters.received) {
        ULONGLONG left = g_counters.received - offset;
        count = left < outputLength ? (ULONG)left : outputLength;
        RtlCopyMemory(buffer, g_received + offset, count);
      }
      KeReleaseSpinLock(&g_lock, irql);
      return Complete(irp, STATUS_SUCCESS, count);
    }
    case KORVO_IOCTL_GET_COUNTERS:
      if (outputLength < sizeof(KorvoDeviceCounters)) break;
      KeAcquireSpinLock(&g_lock, &irql);
      RtlCopyMemory(buffer, &g_counters, sizeof g_counters);
      KeReleaseSpinLock(&g_lock, irql);
      return Complete(irp, STATUS_SUCCESS, sizeof(KorvoDeviceCounters));
    case KORVO_IOCTL_RELEASE_HELD_WRITE:
      if (inputLength != sizeof(LONG)) break;
      ReleaseHeldWrite(*(const LONG *)buffer);
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      break;
  }
  return Complete(irp, STATUS_INVALID_PARAMETER, 0);
}

/* --- Dispatch ------------------------------------------------------------ */

static NTSTATUS NTAPI Dispatch(DEVICE_OBJECT *device, IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);

  if (ExtensionOf(device)->isControl) {
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) return ControlRequest(irp, stack);
    return Complete(irp, STATUS_SUCCESS, 0);  /* create, cleanup, close */
  }

  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      return KorvoCreate(irp, stack);
    case IRP_MJ_CLOSE:
      return KorvoClose(irp, stack);
    case IRP_MJ_CLEANUP:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_WRITE:
      if (!FromHolder(stack)) return Complete(irp, STATUS_ACCESS_DENIED, 0);
      return KorvoWrite(irp, stack);
    case IRP_MJ_DEVICE_CONTROL:
      if (!FromHolder(stack)) return Complete(irp, STATUS_ACCESS_DENIED, 0);
      if (stack->Parameters.DeviceIoControl.IoControlCode == KORVO_GET_PORT_STATUS) {
        return KorvoPortStatus(irp, stack);
      }
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    case IRP_MJ_PNP:
      return KorvoPnp(device, irp, stack);
    case IRP_MJ_POWER:
      PoStartNextPowerIrp(irp);
      IoSkipCurrentIrpStackLocation(irp);
      return PoCallDriver(ExtensionOf(device)->lower, irp);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT *driver, DEVICE_OBJECT *pdo) {
  DEVICE_OBJECT *device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), NULL, FILE_DEVICE_UNKNOWN,
                                   FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;

  DeviceExtension *extension = ExtensionOf(device);
  RtlZeroMemory(extension, sizeof *extension);
  status = IoRegisterDeviceInterface(pdo, &kUsbDeviceInterface, NULL, &extension->interfaceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  extension->lower = IoAttachDeviceToDeviceStack(device, pdo);
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static void NTAPI Unload(DRIVER_OBJECT *driver) {
  (void)driver;
  ReleaseHeldWrite(STATUS_CANCELLED);
  IoDeleteSymbolicLink(&g_controlLink);
  if (g_controlDevice) IoDeleteDevice(g_controlDevice);
  if (g_received) ExFreePoolWithTag(g_received, POOL_TAG);
  g_received = NULL;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registryPath) {
  (void)registryPath;
  KeInitializeSpinLock(&g_lock);
  g_settings.failWriteAfter = ~0ull;
  g_settings.present = 1;

  NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), &g_controlName,
                                   FILE_DEVICE_UNKNOWN, 0, FALSE, &g_controlDevice);
  if (!NT_SUCCESS(status)) return status;
  RtlZeroMemory(g_controlDevice->DeviceExtension, sizeof(DeviceExtension));
  ExtensionOf(g_controlDevice)->isControl = TRUE;
  g_controlDevice->Flags |= DO_BUFFERED_IO;
  status = IoCreateSymbolicLink(&g_controlLink, &g_controlName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(g_controlDevice);
    return status;
  }
  g_controlDevice->Flags &= ~DO_DEVICE_INITIALIZING;

  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
    driver->MajorFunction[major] = Dispatch;
  }
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
