// driver.cpp - the virtual reader driver: a device object per reader,
// answered by the virtual reader model, and a control device through which
// the vreader tool attaches, inspects and drives the readers.
//
// Buffered I/O only. Every use of a reader's model happens under that
// reader's spin lock; the model and everything it touches live in
// nonpaged pool or in the driver image, so it may run at DISPATCH_LEVEL.
// The table of readers is guarded by a kernel mutex, which leaves the
// holder at PASSIVE_LEVEL so device objects and links can be made under it.
#include <ntddk.h>

#include "control_protocol.h"

using namespace vreader;
using namespace vreader::control;

namespace {

constexpr ULONG kPoolTag = 0x7276584B;  // "KXvr" in a pool dump

enum DeviceKind : uint32_t {
    kControlDevice = 1,
    kReaderDevice = 2,
};

// Extension of every device object of this driver; the control device
// uses only `kind`.
struct ReaderDevice {
    uint32_t kind;
    uint32_t index;
    uint32_t origin;            // Origin
    KSPIN_LOCK lock;            // serializes every use of the fields below
    Reader *reader;             // null once the reader is gone
    uint8_t *replay;            // our copy of the replay bytes
    uint32_t replaySize;
    PKEVENT buttonEvent;        // referenced; the model's signal sets it
    uint32_t eventBinding;      // EventBinding
    uint32_t signals;
    PDEVICE_OBJECT lower;       // device node: the next device down
    WCHAR linkBuffer[48];
    UNICODE_STRING link;
};

PDEVICE_OBJECT gControl;
PDEVICE_OBJECT gReaders[kMaxReaders];
KMUTEX gTableLock;

ReaderDevice *Extension(PDEVICE_OBJECT device) {
    return static_cast<ReaderDevice *>(device->DeviceExtension);
}

void LockTable() {
    KeWaitForSingleObject(&gTableLock, Executive, KernelMode, FALSE, nullptr);
}
void UnlockTable() { KeReleaseMutex(&gTableLock, FALSE); }

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// prefix + decimal index into buffer, as a counted string.
void FormatName(WCHAR *buffer, size_t capacity, const wchar_t *prefix,
                uint32_t index, UNICODE_STRING *name) {
    size_t n = 0;
    while (prefix[n] && n + 12 < capacity) {
        buffer[n] = prefix[n];
        ++n;
    }
    WCHAR digits[12];
    size_t d = 0;
    do {
        digits[d++] = static_cast<WCHAR>(L'0' + index % 10);
        index /= 10;
    } while (index);
    while (d) buffer[n++] = digits[--d];
    buffer[n] = 0;
    name->Buffer = buffer;
    name->Length = static_cast<USHORT>(n * sizeof(WCHAR));
    name->MaximumLength = static_cast<USHORT>(capacity * sizeof(WCHAR));
}

// mingw-w64 declares ExEventObjectType as the WDK does, POBJECT_TYPE *, but
// as a dllimport: the compiler already reads through the import slot, so
// the value it yields is the kernel's variable itself, the object type.
POBJECT_TYPE EventObjectType() {
    return reinterpret_cast<POBJECT_TYPE>(ExEventObjectType);
}

// The named event of the library's button monitor, as user mode sees it
// in the interactive session and in the global namespace.
const wchar_t *const kButtonEventNames[] = {
    L"\\Sessions\\1\\BaseNamedObjects\\KX7300Event2",
    L"\\BaseNamedObjects\\KX7300Event2",
};

// The event that REQ_BUTTON_EVENT registers. On Windows the handle is
// valid here, since a top-level driver runs in the caller's context. Wine
// runs drivers in a process of their own and refuses user-mode handles
// there, so the monitor's event is then opened by its name.
PKEVENT ReferenceButtonEvent(uint32_t value, KPROCESSOR_MODE mode,
                             uint32_t *binding) {
    *binding = kEventNone;
    PVOID object = nullptr;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    if (NT_SUCCESS(ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE,
                                             EventObjectType(), mode, &object,
                                             nullptr))) {
        *binding = kEventByHandle;
        return static_cast<PKEVENT>(object);
    }
    for (const wchar_t *text : kButtonEventNames) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, text);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name,
                                   OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE,
                                   nullptr, nullptr);
        HANDLE kernelHandle = nullptr;
        if (!NT_SUCCESS(ZwOpenEvent(&kernelHandle, EVENT_MODIFY_STATE | SYNCHRONIZE,
                                    &attributes)))
            continue;
        NTSTATUS status = ObReferenceObjectByHandle(
            kernelHandle, EVENT_MODIFY_STATE, EventObjectType(), KernelMode,
            &object, nullptr);
        ZwClose(kernelHandle);
        if (NT_SUCCESS(status)) {
            *binding = kEventByName;
            return static_cast<PKEVENT>(object);
        }
    }
    return nullptr;
}

// The model's way to wake the registered event; runs under the reader's
// spin lock, so it must not wait.
void SignalButton(void *context, uint32_t) {
    ReaderDevice *rd = static_cast<ReaderDevice *>(context);
    if (!rd->buttonEvent) return;
    KeSetEvent(rd->buttonEvent, IO_NO_INCREMENT, FALSE);
    ++rd->signals;
}

// A model and its replay copy, from nonpaged pool.
struct Parts {
    Reader *reader;
    uint8_t *replay;
    uint32_t replaySize;
};

void FreeParts(Parts *parts) {
    if (parts->reader) ExFreePoolWithTag(parts->reader, kPoolTag);
    if (parts->replay) ExFreePoolWithTag(parts->replay, kPoolTag);
    parts->reader = nullptr;
    parts->replay = nullptr;
}

// The reads of an empty recording deliver nothing; the model needs a
// pointer all the same to tell it from no recording.
const uint8_t kEmptyReplay[1] = {0};

// image: the picture, or null for a sensor with no finger on it (255s).
// replay: the recording when hasReplay, even of no bytes.
NTSTATUS MakeParts(const Description &description, const uint8_t *image, bool hasReplay,
                   const uint8_t *replay, uint32_t replaySize, Parts *parts) {
    parts->reader = static_cast<Reader *>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(Reader), kPoolTag));
    parts->replay = nullptr;
    parts->replaySize = replaySize;
    if (replaySize)
        parts->replay = static_cast<uint8_t *>(
            ExAllocatePoolWithTag(NonPagedPool, replaySize, kPoolTag));
    if (!parts->reader || (replaySize && !parts->replay)) {
        FreeParts(parts);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    parts->reader->Init(description);
    if (image)
        memcpy(parts->reader->Image(), image, kImageSize);
    else
        memset(parts->reader->Image(), 255, kImageSize);
    if (replaySize) {
        memcpy(parts->replay, replay, replaySize);
        parts->reader->SetReplay(parts->replay, replaySize);
    } else if (hasReplay) {
        parts->reader->SetReplay(kEmptyReplay, 0);
    }
    return STATUS_SUCCESS;
}

// Puts new parts into a reader device and hands back what it held.
// Caller holds the table lock.
void SwapParts(ReaderDevice *rd, Parts *parts) {
    parts->reader->SetSignal(SignalButton, rd);
    KIRQL irql;
    KeAcquireSpinLock(&rd->lock, &irql);
    Reader *oldReader = rd->reader;
    uint8_t *oldReplay = rd->replay;
    // A new model has no registration: the old event goes with the old model.
    PKEVENT oldEvent = rd->buttonEvent;
    rd->reader = parts->reader;
    rd->replay = parts->replay;
    rd->replaySize = parts->replaySize;
    rd->buttonEvent = nullptr;
    rd->eventBinding = kEventNone;
    rd->signals = 0;
    KeReleaseSpinLock(&rd->lock, irql);
    parts->reader = oldReader;
    parts->replay = oldReplay;
    if (oldEvent) ObDereferenceObject(oldEvent);
}

// A reader device object with its name and link, entered in the table.
// Caller holds the table lock; the slot is free.
NTSTATUS CreateReaderDevice(PDRIVER_OBJECT driver, uint32_t index,
                            uint32_t origin, PDEVICE_OBJECT *created) {
    WCHAR nameBuffer[48];
    UNICODE_STRING name;
    FormatName(nameBuffer, 48, kReaderDeviceName, index, &name);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(ReaderDevice), &name,
                                     FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN,
                                     FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    ReaderDevice *rd = Extension(device);
    RtlZeroMemory(rd, sizeof *rd);
    rd->kind = kReaderDevice;
    rd->index = index;
    rd->origin = origin;
    KeInitializeSpinLock(&rd->lock);
    FormatName(rd->linkBuffer, 48, kReaderLinkName, index, &rd->link);
    status = IoCreateSymbolicLink(&rd->link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    device->Flags |= DO_BUFFERED_IO;
    gReaders[index] = device;
    *created = device;
    return STATUS_SUCCESS;
}

// Takes a reader out of the table and deletes its device object. Handles
// still open on it fail from now on. Caller holds the table lock.
void DestroyReaderDevice(PDEVICE_OBJECT device) {
    ReaderDevice *rd = Extension(device);
    gReaders[rd->index] = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(&rd->lock, &irql);
    Parts parts = {rd->reader, rd->replay, 0};
    PKEVENT event = rd->buttonEvent;
    rd->reader = nullptr;
    rd->replay = nullptr;
    rd->buttonEvent = nullptr;
    KeReleaseSpinLock(&rd->lock, irql);
    FreeParts(&parts);
    if (event) ObDereferenceObject(event);
    IoDeleteSymbolicLink(&rd->link);
    if (rd->lower) IoDetachDevice(rd->lower);
    IoDeleteDevice(device);
}

// ---- the readers' side: the fourteen requests and the image reads ----

NTSTATUS ReaderControl(ReaderDevice *rd, PIRP irp, PIO_STACK_LOCATION stack) {
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *buffer = static_cast<uint8_t *>(irp->AssociatedIrp.SystemBuffer);
    // Only buffered codes bring a system buffer; the model sees no bytes
    // of any other, and refuses them as unknown.
    if (METHOD_FROM_CTL_CODE(code) != METHOD_BUFFERED || !buffer) {
        buffer = nullptr;
        inSize = outSize = 0;
    }

    uint32_t binding = kEventNone;
    PKEVENT event = nullptr;
    if (code == kx::REQ_BUTTON_EVENT && inSize >= 4) {
        event = ReferenceButtonEvent(kx::GetLong(buffer), irp->RequestorMode, &binding);
    }

    NTSTATUS status;
    uint32_t returned = 0;
    KIRQL irql;
    KeAcquireSpinLock(&rd->lock, &irql);
    if (!rd->reader) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (rd->reader->Control(code, buffer, inSize, buffer, outSize, &returned)) {
        status = STATUS_SUCCESS;
        if (code == kx::REQ_BUTTON_EVENT || code == kx::REQ_BUTTON_STOP) {
            // A registration replaces the event; a stop, having woken the
            // monitor, lets it go.
            PKEVENT old = rd->buttonEvent;
            rd->buttonEvent = event;
            rd->eventBinding = binding;
            event = old;
        }
    } else {
        status = RequestName(code) ? STATUS_UNSUCCESSFUL : STATUS_INVALID_DEVICE_REQUEST;
    }
    KeReleaseSpinLock(&rd->lock, irql);
    if (event) ObDereferenceObject(event);
    if (returned > outSize) returned = outSize;
    return Complete(irp, status, returned);
}

NTSTATUS ReaderRead(ReaderDevice *rd, PIRP irp, PIO_STACK_LOCATION stack) {
    ULONG size = stack->Parameters.Read.Length;
    uint8_t *buffer = static_cast<uint8_t *>(irp->AssociatedIrp.SystemBuffer);
    if (!buffer) size = 0;
    NTSTATUS status;
    uint32_t got = 0;
    KIRQL irql;
    KeAcquireSpinLock(&rd->lock, &irql);
    if (!rd->reader)
        status = STATUS_DEVICE_NOT_CONNECTED;
    else
        status = rd->reader->Read(buffer, size, &got) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
    KeReleaseSpinLock(&rd->lock, irql);
    if (got > size) got = size;
    return Complete(irp, status, got);
}

// ---- the control device ----

// The reader at index, or null; caller holds the table lock.
ReaderDevice *Lookup(uint32_t index) {
    if (index >= kMaxReaders || !gReaders[index]) return nullptr;
    return Extension(gReaders[index]);
}

NTSTATUS Attach(PDRIVER_OBJECT driver, const uint8_t *in, ULONG inSize) {
    // Sizes first, each before the bytes it guards are read.
    if (inSize < 2 * sizeof(uint32_t)) return STATUS_INVALID_PARAMETER;
    const AttachRequest *request = reinterpret_cast<const AttachRequest *>(in);
    if (request->descriptionSize != sizeof(Description)) return STATUS_REVISION_MISMATCH;
    if (request->replaySize > kMaxReplay) return STATUS_INVALID_PARAMETER;
    if (inSize != sizeof(AttachRequest) + request->replaySize) return STATUS_INVALID_PARAMETER;
    if (request->index >= kMaxReaders) return STATUS_INVALID_PARAMETER;

    Parts parts;
    NTSTATUS status = MakeParts(request->description, request->image,
                                (request->flags & kAttachReplay) != 0,
                                in + sizeof(AttachRequest), request->replaySize, &parts);
    if (!NT_SUCCESS(status)) return status;
    LockTable();
    ReaderDevice *rd = Lookup(request->index);
    if (rd && !(request->flags & kAttachReplace)) {
        status = STATUS_OBJECT_NAME_COLLISION;
    } else if (rd) {
        SwapParts(rd, &parts);
    } else {
        PDEVICE_OBJECT device = nullptr;
        status = CreateReaderDevice(driver, request->index, kAttached, &device);
        if (NT_SUCCESS(status)) {
            SwapParts(Extension(device), &parts);
            device->Flags &= ~DO_DEVICE_INITIALIZING;
        }
    }
    UnlockTable();
    FreeParts(&parts);
    return status;
}

NTSTATUS Detach(uint32_t index) {
    LockTable();
    ReaderDevice *rd = Lookup(index);
    NTSTATUS status = STATUS_SUCCESS;
    if (!rd)
        status = STATUS_DEVICE_NOT_CONNECTED;
    else if (rd->origin == kDeviceNode)
        status = STATUS_NOT_SUPPORTED;  // goes with its device node
    else
        DestroyReaderDevice(gReaders[index]);
    UnlockTable();
    return status;
}

void FillInfo(const ReaderDevice *rd, ReaderInfo *info) {
    const Reader &r = *rd->reader;
    RtlZeroMemory(info, sizeof *info);
    info->index = rd->index;
    info->origin = rd->origin;
    memcpy(info->identity, r.Memory() + kx::kIdentityAddress, 2);
    info->led = r.Led();
    info->buttonRegistered = r.ButtonRegistered();
    info->logCount = r.LogCount();
    memcpy(info->serial, r.Memory() + kx::kSerialAddress, 32);
    memcpy(info->userdata, r.Memory() + kx::kUserDataAddress, 32);
}

void FillState(const ReaderDevice *rd, StateReply *state) {
    const Reader &r = *rd->reader;
    RtlZeroMemory(state, sizeof *state);
    state->index = rd->index;
    state->origin = rd->origin;
    memcpy(state->identity, r.Memory() + kx::kIdentityAddress, 2);
    state->led = r.Led();
    state->buttonRegistered = r.ButtonRegistered();
    state->buttonEvent = r.ButtonEvent();
    state->eventBinding = rd->eventBinding;
    state->buttonStatus = r.ButtonStatus();
    state->signals = rd->signals;
    state->scardAddress = r.ScardAddress();
    state->scardAuxiliary = r.ScardAuxiliary();
    state->shortRead = r.Settings().shortRead;
    state->replaySize = rd->replaySize;
    state->faultCount = r.Settings().faultCount;
    memcpy(state->faults, r.Settings().faults, sizeof state->faults);
    for (uint32_t i = 0; i < 256; ++i) state->registers[i] = r.Register(static_cast<uint8_t>(i));
}

// One request on one reader's model, under the table lock and the
// reader's spin lock. The input was checked; `out` may alias the input.
NTSTATUS OnReader(uint32_t code, uint8_t *buffer, ULONG inSize, ULONG outSize,
                  ULONG_PTR *information) {
    uint32_t index = reinterpret_cast<const IndexRequest *>(buffer)->index;
    NTSTATUS status = STATUS_SUCCESS;
    LockTable();
    ReaderDevice *rd = Lookup(index);
    if (!rd) {
        UnlockTable();
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    KIRQL irql;
    KeAcquireSpinLock(&rd->lock, &irql);
    Reader *r = rd->reader;
    switch (code) {
        case VR_LOG_READ: {
            uint32_t first = reinterpret_cast<const LogRequest *>(buffer)->first;
            uint32_t total = r->LogCount();
            uint32_t room = (outSize - sizeof(LogReply)) / sizeof(LogEntry);
            uint32_t count = first < total ? total - first : 0;
            if (count > room) count = room;
            LogReply *reply = reinterpret_cast<LogReply *>(buffer);
            LogEntry *entries = reinterpret_cast<LogEntry *>(buffer + sizeof(LogReply));
            for (uint32_t i = 0; i < count; ++i) entries[i] = r->LogAt(first + i);
            reply->total = total;
            reply->dropped = r->LogDropped();
            reply->first = first;
            reply->count = count;
            *information = sizeof(LogReply) + count * sizeof(LogEntry);
            break;
        }
        case VR_LOG_CLEAR:
            r->ClearLog();
            break;
        case VR_FAULT: {
            const FaultRequest *f = reinterpret_cast<const FaultRequest *>(buffer);
            if (!RequestName(f->code))
                status = STATUS_INVALID_PARAMETER;
            else if (!r->AddFault(f->code, f->nth))
                status = STATUS_QUOTA_EXCEEDED;
            break;
        }
        case VR_CLEAR_FAULTS:
            r->ClearFaults();
            break;
        case VR_PRESS:
            r->Press(reinterpret_cast<const PressRequest *>(buffer)->status);
            break;
        case VR_SHORT_READ:
            r->SetShortRead(reinterpret_cast<const ValueRequest *>(buffer)->value);
            break;
        case VR_STATE:
            FillState(rd, reinterpret_cast<StateReply *>(buffer));
            *information = sizeof(StateReply);
            break;
        case VR_PEEK: {
            PeekRequest peek = *reinterpret_cast<const PeekRequest *>(buffer);
            if (peek.length > outSize) {
                status = STATUS_BUFFER_TOO_SMALL;
            } else if (peek.space == kPeekParameters) {
                if (peek.address > kMemorySize || peek.length > kMemorySize - peek.address)
                    status = STATUS_INVALID_PARAMETER;
                else
                    memcpy(buffer, r->Memory() + peek.address, peek.length);
            } else if (peek.space == kPeekScard) {
                // The card store wraps at its 16-bit address space.
                for (uint32_t i = 0; i < peek.length; ++i)
                    buffer[i] = r->Scard()[(peek.address + i) % kScardSize];
            } else {
                status = STATUS_INVALID_PARAMETER;
            }
            if (NT_SUCCESS(status)) *information = peek.length;
            break;
        }
    }
    KeReleaseSpinLock(&rd->lock, irql);
    UnlockTable();
    (void)inSize;
    return status;
}

// Smallest input and output of each private request that names a reader.
struct Sizes {
    uint32_t code;
    ULONG input;
    ULONG output;
};
const Sizes kReaderRequests[] = {
    {VR_LOG_READ, sizeof(LogRequest), sizeof(LogReply)},
    {VR_LOG_CLEAR, sizeof(IndexRequest), 0},
    {VR_FAULT, sizeof(FaultRequest), 0},
    {VR_CLEAR_FAULTS, sizeof(IndexRequest), 0},
    {VR_PRESS, sizeof(PressRequest), 0},
    {VR_SHORT_READ, sizeof(ValueRequest), 0},
    {VR_STATE, sizeof(IndexRequest), sizeof(StateReply)},
    {VR_PEEK, sizeof(PeekRequest), 0},
};

NTSTATUS ControlRequest(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack) {
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *buffer = static_cast<uint8_t *>(irp->AssociatedIrp.SystemBuffer);
    if (METHOD_FROM_CTL_CODE(code) != METHOD_BUFFERED)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (!buffer) inSize = outSize = 0;

    ULONG_PTR information = 0;
    NTSTATUS status;
    switch (code) {
        case VR_ATTACH:
            status = Attach(device->DriverObject, buffer, inSize);
            break;
        case VR_DETACH:
            status = inSize < sizeof(IndexRequest)
                         ? STATUS_INVALID_PARAMETER
                         : Detach(reinterpret_cast<const IndexRequest *>(buffer)->index);
            break;
        case VR_LIST: {
            if (outSize < sizeof(ListReply)) {
                status = STATUS_BUFFER_TOO_SMALL;
                break;
            }
            ListReply *reply = reinterpret_cast<ListReply *>(buffer);
            RtlZeroMemory(reply, sizeof *reply);
            LockTable();
            for (uint32_t i = 0; i < kMaxReaders; ++i) {
                ReaderDevice *rd = Lookup(i);
                if (!rd) continue;
                KIRQL irql;
                KeAcquireSpinLock(&rd->lock, &irql);
                if (rd->reader) FillInfo(rd, &reply->readers[reply->count++]);
                KeReleaseSpinLock(&rd->lock, irql);
            }
            UnlockTable();
            information = sizeof(ListReply);
            status = STATUS_SUCCESS;
            break;
        }
        default: {
            status = STATUS_INVALID_DEVICE_REQUEST;
            for (const Sizes &s : kReaderRequests) {
                if (s.code != code) continue;
                if (inSize < s.input)
                    status = STATUS_INVALID_PARAMETER;
                else if (outSize < s.output)
                    status = STATUS_BUFFER_TOO_SMALL;
                else
                    status = OnReader(code, buffer, inSize, outSize, &information);
            }
            break;
        }
    }
    if (information > outSize) information = outSize;
    return Complete(irp, status, information);
}

// ---- dispatch routines ----

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
    ReaderDevice *rd = Extension(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (rd->kind == kReaderDevice && stack->MajorFunction == IRP_MJ_CREATE) {
        KIRQL irql;
        KeAcquireSpinLock(&rd->lock, &irql);
        bool present = rd->reader != nullptr;
        KeReleaseSpinLock(&rd->lock, irql);
        if (!present) return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ReaderDevice *rd = Extension(device);
    if (rd->kind == kControlDevice) return ControlRequest(device, irp, stack);
    return ReaderControl(rd, irp, stack);
}

NTSTATUS NTAPI DispatchRead(PDEVICE_OBJECT device, PIRP irp) {
    ReaderDevice *rd = Extension(device);
    if (rd->kind != kReaderDevice) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    return ReaderRead(rd, irp, IoGetCurrentIrpStackLocation(irp));
}

bool IsDeviceNode(PDEVICE_OBJECT device) {
    ReaderDevice *rd = Extension(device);
    return rd->kind == kReaderDevice && rd->origin == kDeviceNode;
}

// Plug and Play: the device node's requests go down its stack; a removal
// takes the reader with it. Our other devices are not part of any stack.
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    if (!IsDeviceNode(device)) {
        NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    ReaderDevice *rd = Extension(device);
    PDEVICE_OBJECT lower = rd->lower;
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
        case IRP_MN_REMOVE_DEVICE: {
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoSkipCurrentIrpStackLocation(irp);
            NTSTATUS status = IoCallDriver(lower, irp);
            LockTable();
            DestroyReaderDevice(device);
            UnlockTable();
            return status;
        }
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
            // Nothing of ours holds the device: agree, and let the bus see it.
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        default:
            break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    if (!IsDeviceNode(device)) {
        NTSTATUS status = irp->IoStatus.Status;
        PoStartNextPowerIrp(irp);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(Extension(device)->lower, irp);
}

// A device node bound to this driver gets a reader at the lowest free
// index, described as a model-3 reader until the tool describes it anew.
NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical) {
    Description description;
    DefaultDescription(&description);
    Parts parts;
    NTSTATUS status = MakeParts(description, nullptr, false, nullptr, 0, &parts);
    if (!NT_SUCCESS(status)) return status;
    LockTable();
    uint32_t index = 0;
    while (index < kMaxReaders && gReaders[index]) ++index;
    PDEVICE_OBJECT device = nullptr;
    if (index == kMaxReaders)
        status = STATUS_INSUFFICIENT_RESOURCES;
    else
        status = CreateReaderDevice(driver, index, kDeviceNode, &device);
    if (NT_SUCCESS(status)) {
        ReaderDevice *rd = Extension(device);
        rd->lower = IoAttachDeviceToDeviceStack(device, physical);
        if (!rd->lower) {
            DestroyReaderDevice(device);
            status = STATUS_NO_SUCH_DEVICE;
        } else {
            SwapParts(rd, &parts);
            device->Flags |= rd->lower->Flags & DO_POWER_PAGABLE;
            device->Flags &= ~DO_DEVICE_INITIALIZING;
        }
    }
    UnlockTable();
    FreeParts(&parts);
    return status;
}

void NTAPI Unload(PDRIVER_OBJECT) {
    LockTable();
    for (uint32_t i = 0; i < kMaxReaders; ++i)
        if (gReaders[i]) DestroyReaderDevice(gReaders[i]);
    UnlockTable();
    if (gControl) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, kLinkName);
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(gControl);
        gControl = nullptr;
    }
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    KeInitializeMutex(&gTableLock, 0);
    for (PDEVICE_OBJECT &slot : gReaders) slot = nullptr;

    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, kDeviceName);
    RtlInitUnicodeString(&link, kLinkName);
    NTSTATUS status = IoCreateDevice(driver, sizeof(ReaderDevice), &name,
                                     FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN,
                                     FALSE, &gControl);
    if (!NT_SUCCESS(status)) return status;
    RtlZeroMemory(gControl->DeviceExtension, sizeof(ReaderDevice));
    Extension(gControl)->kind = kControlDevice;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(gControl);
        gControl = nullptr;
        return status;
    }
    gControl->Flags |= DO_BUFFERED_IO;
    gControl->Flags &= ~DO_DEVICE_INITIALIZING;

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->MajorFunction[IRP_MJ_READ] = DispatchRead;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverUnload = Unload;
    driver->DriverExtension->AddDevice = AddDevice;
    return STATUS_SUCCESS;
}
