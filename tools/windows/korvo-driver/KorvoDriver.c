/*
 * korvo-driver: a kernel-mode driver that stands in for a KORVO device, so
 * that korvo-test.exe can be tested behind a real driver (under Wine, or on a
 * Windows test machine that accepts test-signed drivers).
 *
 * It is the function driver of up to two root-enumerated devices, instances
 * 0000 and 0001. For each it registers an interface of the USB device class,
 * so programs find it with SetupAPI and open it by its interface path as they
 * do a real device. Each device
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
 * Its behaviour is set through its own control device (KorvoDriverControl.h).
 *
 * Each device's settings and what it received are its unit's, all kept
 * under one spin lock. Unit 1 starts unplugged, so that the tests of one
 * device meet unit 0 alone.
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

/* One KORVO device and what its control device sets and reads. */
typedef struct Unit {
  KorvoDeviceSettings settings;
  KorvoDeviceCounters counters;
  unsigned char *received;
  SIZE_T receivedCapacity;
  IRP *heldWrite;
  FILE_OBJECT *holder;            /* the open that was let in */
  DEVICE_OBJECT *controlDevice;
  UNICODE_STRING *interfaceName;  /* the KORVO device's interface, once started */
  BOOLEAN present;
} Unit;

typedef struct DeviceExtension {
  BOOLEAN isControl;
  Unit *unit;
  DEVICE_OBJECT *lower;          /* the KORVO device: the device below it */
  UNICODE_STRING interfaceName;  /* the KORVO device: its interface */
} DeviceExtension;

#define UNITS 2
static KSPIN_LOCK g_lock;
static Unit g_units[UNITS];

static UNICODE_STRING g_controlNames[UNITS] = {
    RTL_CONSTANT_STRING(L"\\Device\\KorvoTestControl"),
    RTL_CONSTANT_STRING(L"\\Device\\KorvoTestControl1")};
static UNICODE_STRING g_controlLinks[UNITS] = {
    RTL_CONSTANT_STRING(L"\\DosDevices\\KorvoTestControl"),
    RTL_CONSTANT_STRING(L"\\DosDevices\\KorvoTestControl1")};

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
static BOOLEAN KeepReceived(Unit *unit, const unsigned char *data, SIZE_T length) {
  SIZE_T needed = (SIZE_T)unit->counters.received + length;
  if (needed > MAX_RECEIVED) return FALSE;
  if (needed > unit->receivedCapacity) {
    SIZE_T capacity = unit->receivedCapacity ? unit->receivedCapacity : (1u << 20);
    while (capacity < needed) capacity *= 2;
    unsigned char *grown = ExAllocatePoolWithTag(NonPagedPool, capacity, POOL_TAG);
    if (!grown) return FALSE;
    if (unit->received) {
      RtlCopyMemory(grown, unit->received, (SIZE_T)unit->counters.received);
      ExFreePoolWithTag(unit->received, POOL_TAG);
    }
    unit->received = grown;
    unit->receivedCapacity = capacity;
  }
  RtlCopyMemory(unit->received + unit->counters.received, data, length);
  unit->counters.received += length;
  return TRUE;
}

/* --- The KORVO device ---------------------------------------------------- */

static NTSTATUS KorvoCreate(Unit *unit, IRP *irp, IO_STACK_LOCATION *stack) {
  KIRQL irql;
  NTSTATUS status = STATUS_SUCCESS;
  KeAcquireSpinLock(&g_lock, &irql);
  if (unit->holder) {
    ++unit->counters.refusedOpens;
    status = STATUS_ACCESS_DENIED;  /* held by another program */
  } else {
    unit->holder = stack->FileObject;
    unit->counters.openNow = 1;
    ++unit->counters.opens;
  }
  KeReleaseSpinLock(&g_lock, irql);
  return Complete(irp, status, 0);
}

static NTSTATUS KorvoClose(Unit *unit, IRP *irp, IO_STACK_LOCATION *stack) {
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  if (stack->FileObject == unit->holder) {
    unit->holder = NULL;
    unit->counters.openNow = 0;
  }
  KeReleaseSpinLock(&g_lock, irql);
  return Complete(irp, STATUS_SUCCESS, 0);
}

/* True when the request comes through the open that was let in. */
static BOOLEAN FromHolder(Unit *unit, IO_STACK_LOCATION *stack) {
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  BOOLEAN holder = stack->FileObject == unit->holder;
  KeReleaseSpinLock(&g_lock, irql);
  return holder;
}

static NTSTATUS KorvoPortStatus(Unit *unit, IRP *irp, IO_STACK_LOCATION *stack) {
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  ++unit->counters.statusRequests;
  NTSTATUS failure = unit->settings.statusFailure;
  UCHAR statusByte = (UCHAR)unit->settings.statusByte;
  KeReleaseSpinLock(&g_lock, irql);

  if (failure != STATUS_SUCCESS) return Complete(irp, failure, 0);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < 1) {
    return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  }
  *(UCHAR *)irp->AssociatedIrp.SystemBuffer = statusByte;
  return Complete(irp, STATUS_SUCCESS, 1);
}

static void NTAPI CancelHeldWrite(DEVICE_OBJECT *device, IRP *irp) {
  Unit *unit = ExtensionOf(device)->unit;
  KIRQL irql;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&g_lock, &irql);
  if (unit->heldWrite == irp) unit->heldWrite = NULL;
  ++unit->counters.cancelledWrites;
  KeReleaseSpinLock(&g_lock, irql);
  Complete(irp, STATUS_CANCELLED, 0);
}

/* Ends the held write, if any, with `status`; nothing is taken from it. */
static void ReleaseHeldWrite(Unit *unit, NTSTATUS status) {
  KIRQL irql;
  KeAcquireSpinLock(&g_lock, &irql);
  IRP *irp = unit->heldWrite;
  unit->heldWrite = NULL;
  KeReleaseSpinLock(&g_lock, irql);
  /* A write being cancelled right now belongs to its cancel routine. */
  if (irp && IoSetCancelRoutine(irp, NULL)) Complete(irp, status, 0);
}

static NTSTATUS KorvoWrite(Unit *unit, IRP *irp, IO_STACK_LOCATION *stack) {
  const unsigned char *data = irp->AssociatedIrp.SystemBuffer;
  ULONG length = stack->Parameters.Write.Length;
  KIRQL irql;

  /* Writes come at PASSIVE_LEVEL, in the writer's thread: it waits here. */
  KeAcquireSpinLock(&g_lock, &irql);
  LARGE_INTEGER delay;
  delay.QuadPart = -10000LL * (LONGLONG)unit->settings.writeDelayMs;
  KeReleaseSpinLock(&g_lock, irql);
  if (delay.QuadPart) KeDelayExecutionThread(KernelMode, FALSE, &delay);

  KeAcquireSpinLock(&g_lock, &irql);
  ++unit->counters.writes;
  if (length > unit->counters.largestWrite) unit->counters.largestWrite = length;

  if (unit->settings.holdWrites) {
    ++unit->counters.heldWrites;
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CancelHeldWrite);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
      /* Cancelled before the routine was in place. */
      ++unit->counters.cancelledWrites;
      KeReleaseSpinLock(&g_lock, irql);
      Complete(irp, STATUS_CANCELLED, 0);
      return STATUS_PENDING;
    }
    unit->heldWrite = irp;
    KeReleaseSpinLock(&g_lock, irql);
    return STATUS_PENDING;
  }

  if (unit->settings.maxWriteLength && length > unit->settings.maxWriteLength) {
    NTSTATUS failure = unit->settings.oversizeFailure;
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, failure, 0);
  }

  /* Take what fits before the failure point, then fail the rest. */
  ULONG taken = length;
  NTSTATUS status = STATUS_SUCCESS;
  if (unit->counters.received + length > unit->settings.failWriteAfter) {
    taken = unit->counters.received < unit->settings.failWriteAfter
                ? (ULONG)(unit->settings.failWriteAfter - unit->counters.received)
                : 0;
    status = unit->settings.writeFailure;
  }
  if (taken && !KeepReceived(unit, data, taken)) {
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
      extension->unit->interfaceName = &extension->interfaceName;
      if (extension->unit->present) IoSetDeviceInterfaceState(&extension->interfaceName, TRUE);
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
      extension->unit->interfaceName = NULL;
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

static NTSTATUS ControlRequest(Unit *unit, IRP *irp, IO_STACK_LOCATION *stack) {
  void *buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  KIRQL irql;

  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case KORVO_IOCTL_CONFIGURE: {
      if (inputLength != sizeof(KorvoDeviceSettings)) break;
      ReleaseHeldWrite(unit, STATUS_CANCELLED);
      KeAcquireSpinLock(&g_lock, &irql);
      RtlCopyMemory(&unit->settings, buffer, sizeof unit->settings);
      ULONG openNow = unit->counters.openNow;
      RtlZeroMemory(&unit->counters, sizeof unit->counters);
      unit->counters.openNow = openNow;
      BOOLEAN present = unit->settings.present != 0;
      KeReleaseSpinLock(&g_lock, irql);
      /* Plugged in or unplugged, as far as SetupAPI can tell. */
      if (present != unit->present && unit->interfaceName) {
        IoSetDeviceInterfaceState(unit->interfaceName, present);
      }
      unit->present = present;
      return Complete(irp, STATUS_SUCCESS, 0);
    }
    case KORVO_IOCTL_READ_RECEIVED: {
      if (inputLength != sizeof(ULONGLONG)) break;
      ULONGLONG offset = *(const ULONGLONG *)buffer;
      ULONG count = 0;
      KeAcquireSpinLock(&g_lock, &irql);
      if (offset < unit->counters.received) {
        ULONGLONG left = unit->counters.received - offset;
        count = left < outputLength ? (ULONG)left : outputLength;
        RtlCopyMemory(buffer, unit->received + offset, count);
      }
      KeReleaseSpinLock(&g_lock, irql);
      return Complete(irp, STATUS_SUCCESS, count);
    }
    case KORVO_IOCTL_GET_COUNTERS:
      if (outputLength < sizeof(KorvoDeviceCounters)) break;
      KeAcquireSpinLock(&g_lock, &irql);
      RtlCopyMemory(buffer, &unit->counters, sizeof unit->counters);
      KeReleaseSpinLock(&g_lock, irql);
      return Complete(irp, STATUS_SUCCESS, sizeof(KorvoDeviceCounters));
    case KORVO_IOCTL_RELEASE_HELD_WRITE:
      if (inputLength != sizeof(LONG)) break;
      ReleaseHeldWrite(unit, *(const LONG *)buffer);
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      break;
  }
  return Complete(irp, STATUS_INVALID_PARAMETER, 0);
}

/* --- Dispatch ------------------------------------------------------------ */

static NTSTATUS NTAPI Dispatch(DEVICE_OBJECT *device, IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  Unit *unit = ExtensionOf(device)->unit;

  if (ExtensionOf(device)->isControl) {
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) return ControlRequest(unit, irp, stack);
    return Complete(irp, STATUS_SUCCESS, 0);  /* create, cleanup, close */
  }

  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      return KorvoCreate(unit, irp, stack);
    case IRP_MJ_CLOSE:
      return KorvoClose(unit, irp, stack);
    case IRP_MJ_CLEANUP:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_WRITE:
      if (!FromHolder(unit, stack)) return Complete(irp, STATUS_ACCESS_DENIED, 0);
      return KorvoWrite(unit, irp, stack);
    case IRP_MJ_DEVICE_CONTROL:
      if (!FromHolder(unit, stack)) return Complete(irp, STATUS_ACCESS_DENIED, 0);
      if (stack->Parameters.DeviceIoControl.IoControlCode == KORVO_GET_PORT_STATUS) {
        return KorvoPortStatus(unit, irp, stack);
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

/* The unit of a KORVO device: 1 for instance 0001, whose interface name
 * holds "#0001#", else 0. */
static int InstanceOf(const UNICODE_STRING *interfaceName) {
  static const WCHAR kSecond[] = L"#0001#";
  const USHORT length = (USHORT)(sizeof kSecond / sizeof kSecond[0] - 1);
  const USHORT count = (USHORT)(interfaceName->Length / sizeof(WCHAR));
  for (USHORT i = 0; i + length <= count; ++i) {
    if (RtlCompareMemory(interfaceName->Buffer + i, kSecond, length * sizeof(WCHAR)) ==
        length * sizeof(WCHAR)) {
      return 1;
    }
  }
  return 0;
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
  extension->unit = &g_units[InstanceOf(&extension->interfaceName)];
  extension->lower = IoAttachDeviceToDeviceStack(device, pdo);
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static void NTAPI Unload(DRIVER_OBJECT *driver) {
  (void)driver;
  for (int i = 0; i < UNITS; ++i) {
    Unit *unit = &g_units[i];
    ReleaseHeldWrite(unit, STATUS_CANCELLED);
    if (unit->controlDevice) {
      IoDeleteSymbolicLink(&g_controlLinks[i]);
      IoDeleteDevice(unit->controlDevice);
    }
    if (unit->received) ExFreePoolWithTag(unit->received, POOL_TAG);
    unit->received = NULL;
  }
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registryPath) {
  (void)registryPath;
  KeInitializeSpinLock(&g_lock);
  for (int i = 0; i < UNITS; ++i) {
    Unit *unit = &g_units[i];
    unit->settings.failWriteAfter = ~0ull;
    unit->present = i == 0;
    unit->settings.present = unit->present;
    NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), &g_controlNames[i],
                                     FILE_DEVICE_UNKNOWN, 0, FALSE, &unit->controlDevice);
    if (NT_SUCCESS(status)) {
      DEVICE_OBJECT *control = unit->controlDevice;
      RtlZeroMemory(control->DeviceExtension, sizeof(DeviceExtension));
      ExtensionOf(control)->isControl = TRUE;
      ExtensionOf(control)->unit = unit;
      control->Flags |= DO_BUFFERED_IO;
      status = IoCreateSymbolicLink(&g_controlLinks[i], &g_controlNames[i]);
      if (NT_SUCCESS(status)) {
        control->Flags &= ~DO_DEVICE_INITIALIZING;
      } else {
        IoDeleteDevice(control);
      }
    }
    if (!NT_SUCCESS(status)) {
      unit->controlDevice = NULL;
      Unload(driver);
      return status;
    }
  }

  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
    driver->MajorFunction[major] = Dispatch;
  }
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
