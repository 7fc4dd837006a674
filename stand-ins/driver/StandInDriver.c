/* Kernel-mode stand-in for the interception driver, for tests under Wine.
 * It offers the device "Quenvar" with the six control codes of the real driver's
 * interface: events come from tests (IOCTL_STANDIN_INJECT_EVENTS) instead of
 * interception, and every reply, guard request and registration is journalled
 * for the tests to read back. */
#include <ntddk.h>

#include "StandInControl.h"

#define EVENT_SIZE 1068u
#define IOCTL_WAIT_EVENT 0x966981A4u
#define IOCTL_GET_EVENT 0x966981ABu
#define IOCTL_REPLY 0x966981ACu
#define IOCTL_REGISTER_SERVICE 0x966981B3u
#define IOCTL_ENABLE_GUARD 0x966981B4u
#define IOCTL_DISABLE_GUARD 0x966981B8u
#define POOL_TAG 0x6E565551u /* 'QUVn' */

typedef struct QueuedEvent {
    LIST_ENTRY link;
    UCHAR bytes[EVENT_SIZE];
} QueuedEvent;

typedef struct JournalItem {
    LIST_ENTRY link;
    JournalEntry entry;
} JournalItem;

static KSPIN_LOCK stateLock;
static LIST_ENTRY eventQueue;
static LIST_ENTRY journal;
static LIST_ENTRY waitingIrps;
static StandInState state;
static ULONG registerStatus = 0x7FFE7;
static PDEVICE_OBJECT device;

static UNICODE_STRING deviceName = RTL_CONSTANT_STRING(L"\\Device\\Quenvar");
static UNICODE_STRING globalLink = RTL_CONSTANT_STRING(L"\\DosDevices\\Global\\Quenvar");
static UNICODE_STRING localLink = RTL_CONSTANT_STRING(L"\\DosDevices\\Quenvar");
/* Only LocalSystem and Administrators may open the device: anyone else could
 * answer events and switch the guard. */
static UNICODE_STRING deviceSecurity = RTL_CONSTANT_STRING(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)");
static UNICODE_STRING secureRoutine = RTL_CONSTANT_STRING(L"IoCreateDeviceSecure");
static const GUID deviceClass = {0x5175656e, 0x7661, 0x7252, {0x51, 0x75, 0x65, 0x6e, 0x76, 0x61, 0x72, 0x01}};

typedef NTSTATUS(NTAPI* CreateDeviceSecureFn)(PDRIVER_OBJECT, ULONG, PUNICODE_STRING, DEVICE_TYPE, ULONG, BOOLEAN,
                                              PCUNICODE_STRING, LPCGUID, PDEVICE_OBJECT*);

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Caller holds stateLock. */
static void AddEntry(const JournalEntry* entry) {
    JournalItem* item = ExAllocatePoolWithTag(NonPagedPool, sizeof(JournalItem), POOL_TAG);
    if (item == NULL) return;
    item->entry = *entry;
    InsertTailList(&journal, &item->link);
    state.journalEntries++;
}

/* Caller holds stateLock. */
static void AddJournal(ULONG kind, const void* bytes, ULONG length, PIRP irp) {
    JournalEntry entry;
    RtlZeroMemory(&entry, sizeof(entry));
    entry.kind = kind;
    entry.length = length;
    entry.outLength = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    entry.requestor = (uint32_t)(ULONG_PTR)PsGetCurrentProcessId();
    if (bytes != NULL) RtlCopyMemory(entry.bytes, bytes, length < 8 ? length : 8);
    AddEntry(&entry);
}

static void NTAPI CancelWait(PDEVICE_OBJECT dev, PIRP irp) {
    KIRQL irql;
    (void)dev;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&stateLock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    state.waitingRequests--;
    KeReleaseSpinLock(&stateLock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

/* Completes every pended IOCTL_WAIT_EVENT. Caller must not hold stateLock. */
static void WakeWaiters(void) {
    LIST_ENTRY ready;
    KIRQL irql;
    InitializeListHead(&ready);
    KeAcquireSpinLock(&stateLock, &irql);
    while (!IsListEmpty(&waitingIrps)) {
        PLIST_ENTRY entry = RemoveHeadList(&waitingIrps);
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        state.waitingRequests--;
        if (IoSetCancelRoutine(irp, NULL) == NULL) {
            /* Being cancelled: the cancel routine removes it; keep it listed. */
            InsertTailList(&waitingIrps, entry);
            state.waitingRequests++;
            break;
        }
        InsertTailList(&ready, entry);
    }
    KeReleaseSpinLock(&stateLock, irql);
    while (!IsListEmpty(&ready)) {
        PLIST_ENTRY entry = RemoveHeadList(&ready);
        Complete(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), STATUS_SUCCESS, 0);
    }
}

static NTSTATUS WaitEvent(PIRP irp) {
    KIRQL irql;
    KeAcquireSpinLock(&stateLock, &irql);
    if (!IsListEmpty(&eventQueue)) {
        KeReleaseSpinLock(&stateLock, irql);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&waitingIrps, &irp->Tail.Overlay.ListEntry);
    state.waitingRequests++;
    IoSetCancelRoutine(irp, CancelWait);
    KeReleaseSpinLock(&stateLock, irql);
    return STATUS_PENDING;
}

static NTSTATUS GetEvent(PIRP irp, PIO_STACK_LOCATION stack) {
    KIRQL irql;
    QueuedEvent* event = NULL;
    void* out = irp->UserBuffer;
    ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    if (out == NULL || outLength < EVENT_SIZE) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    KeAcquireSpinLock(&stateLock, &irql);
    if (!IsListEmpty(&eventQueue)) {
        event = CONTAINING_RECORD(RemoveHeadList(&eventQueue), QueuedEvent, link);
        state.queuedEvents--;
        state.deliveredEvents++;
    }
    KeReleaseSpinLock(&stateLock, irql);
    if (event == NULL) return Complete(irp, STATUS_NO_MORE_ENTRIES, 0);
    RtlCopyMemory(out, event->bytes, EVENT_SIZE);
    ExFreePoolWithTag(event, POOL_TAG);
    return Complete(irp, STATUS_SUCCESS, EVENT_SIZE);
}

static NTSTATUS InjectEvents(PIRP irp, PIO_STACK_LOCATION stack) {
    ULONG length = stack->Parameters.DeviceIoControl.InputBufferLength;
    const UCHAR* in = irp->AssociatedIrp.SystemBuffer;
    ULONG offset;
    KIRQL irql;
    if (length == 0 || length % EVENT_SIZE != 0) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    for (offset = 0; offset < length; offset += EVENT_SIZE) {
        QueuedEvent* event = ExAllocatePoolWithTag(NonPagedPool, sizeof(QueuedEvent), POOL_TAG);
        if (event == NULL) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, offset);
        RtlCopyMemory(event->bytes, in + offset, EVENT_SIZE);
        KeAcquireSpinLock(&stateLock, &irql);
        InsertTailList(&eventQueue, &event->link);
        state.queuedEvents++;
        KeReleaseSpinLock(&stateLock, irql);
    }
    WakeWaiters();
    return Complete(irp, STATUS_SUCCESS, length);
}

static NTSTATUS ReadJournal(PIRP irp, PIO_STACK_LOCATION stack) {
    ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength / sizeof(JournalEntry);
    JournalEntry* out = irp->AssociatedIrp.SystemBuffer;
    ULONG count = 0;
    KIRQL irql;
    KeAcquireSpinLock(&stateLock, &irql);
    while (count < capacity && !IsListEmpty(&journal)) {
        JournalItem* item = CONTAINING_RECORD(RemoveHeadList(&journal), JournalItem, link);
        out[count++] = item->entry;
        state.journalEntries--;
        ExFreePoolWithTag(item, POOL_TAG);
    }
    KeReleaseSpinLock(&stateLock, irql);
    return Complete(irp, STATUS_SUCCESS, count * sizeof(JournalEntry));
}

static void DropAll(void) {
    KIRQL irql;
    KeAcquireSpinLock(&stateLock, &irql);
    while (!IsListEmpty(&eventQueue)) ExFreePoolWithTag(CONTAINING_RECORD(RemoveHeadList(&eventQueue), QueuedEvent, link), POOL_TAG);
    while (!IsListEmpty(&journal)) ExFreePoolWithTag(CONTAINING_RECORD(RemoveHeadList(&journal), JournalItem, link), POOL_TAG);
    state.queuedEvents = 0;
    state.journalEntries = 0;
    KeReleaseSpinLock(&stateLock, irql);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT dev, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* system = irp->AssociatedIrp.SystemBuffer;
    KIRQL irql;
    (void)dev;
    switch (code) {
    case IOCTL_WAIT_EVENT:
        return WaitEvent(irp);
    case IOCTL_GET_EVENT:
        return GetEvent(irp, stack);
    case IOCTL_REPLY:
    case IOCTL_ENABLE_GUARD:
    case IOCTL_DISABLE_GUARD: {
        ULONG kind = code == IOCTL_REPLY ? JOURNAL_REPLY
                   : code == IOCTL_ENABLE_GUARD ? JOURNAL_ENABLE_GUARD : JOURNAL_DISABLE_GUARD;
        KeAcquireSpinLock(&stateLock, &irql);
        AddJournal(kind, inLength > 0 ? system : NULL, inLength, irp);
        KeReleaseSpinLock(&stateLock, irql);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IOCTL_REGISTER_SERVICE: {
        /* The handle travels in the output pointer (method neither), which Wine
         * does not pass on to a driver when the output size is 0. */
        JournalEntry entry;
        RtlZeroMemory(&entry, sizeof(entry));
        entry.kind = JOURNAL_REGISTER;
        entry.length = inLength;
        entry.outLength = outLength;
        entry.requestor = (uint32_t)(ULONG_PTR)PsGetCurrentProcessId();
        KeAcquireSpinLock(&stateLock, &irql);
        ULONG status = registerStatus;
        RtlCopyMemory(entry.bytes, &status, sizeof(status));
        state.registrations++;
        AddEntry(&entry);
        KeReleaseSpinLock(&stateLock, irql);
        /* The status travels back as the returned byte count. */
        return Complete(irp, STATUS_SUCCESS, status);
    }
    case IOCTL_STANDIN_INJECT_EVENTS:
        return InjectEvents(irp, stack);
    case IOCTL_STANDIN_READ_JOURNAL:
        return ReadJournal(irp, stack);
    case IOCTL_STANDIN_SET_STATUS:
        if (inLength != sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&stateLock, &irql);
        registerStatus = *(const ULONG*)system;
        KeReleaseSpinLock(&stateLock, irql);
        return Complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_STANDIN_QUERY_STATE:
        if (outLength < sizeof(StandInState)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        KeAcquireSpinLock(&stateLock, &irql);
        RtlCopyMemory(system, &state, sizeof(state));
        KeReleaseSpinLock(&stateLock, irql);
        return Complete(irp, STATUS_SUCCESS, sizeof(StandInState));
    case IOCTL_STANDIN_RESET:
        DropAll();
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS NTAPI DispatchOpenClose(PDEVICE_OBJECT dev, PIRP irp) {
    (void)dev;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static void NTAPI Unload(PDRIVER_OBJECT driver) {
    (void)driver;
    IoDeleteSymbolicLink(&globalLink);
    IoDeleteSymbolicLink(&localLink);
    DropAll();
    IoDeleteDevice(device);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    NTSTATUS status;
    (void)registryPath;
    KeInitializeSpinLock(&stateLock);
    InitializeListHead(&eventQueue);
    InitializeListHead(&journal);
    InitializeListHead(&waitingIrps);
    /* The kernel exports IoCreateDeviceSecure under Wine; a Windows driver links
     * it from a library instead. */
    CreateDeviceSecureFn createSecure = (CreateDeviceSecureFn)MmGetSystemRoutineAddress(&secureRoutine);
    status = createSecure != NULL ? createSecure(driver, 0, &deviceName, 0x9669, 0, FALSE, &deviceSecurity,
                                                 &deviceClass, &device)
                                  : IoCreateDevice(driver, 0, &deviceName, 0x9669, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    IoCreateSymbolicLink(&globalLink, &deviceName);
    IoCreateSymbolicLink(&localLink, &deviceName);
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
