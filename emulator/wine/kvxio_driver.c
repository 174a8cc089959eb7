/* kvxio_x64.sys: the emulated machine's kernel I/O driver, loaded by Wine's
 * driver host. It creates \Device\KVXIO and its link \DosDevices\KVXIO and
 * hands every request on to kvxemu, which owns the machine (ports, the
 * calling interface, the physical memory's layout, DOS device names), over
 * the machine's pipe that kvxwine.exe serves:
 *
 *   open:           {"dev.open","KVXIO","nt"}
 *   control:        {"dev.ioctl","KVXIO",CODE,INPUT,OUTPUT_SIZE}
 *   after an unmap: {"dev.unmapped","KVXIO",SECTION}
 *
 * numbers in decimal. A reply {"ok",BYTES,...} completes the request with
 * BYTES (cut to the caller's output size); {"err",N} completes it with an
 * NTSTATUS that the caller's GetLastError shows as N. The driver itself
 * only does what must happen inside Windows: it maps the machine's
 * physical memory file into the requesting process (a map's reply carries
 * the record, then the range's base and length in the file), unmaps such
 * views again, and makes the object-manager link of a DOS device name.
 *
 * No port instruction ever runs here, and only kernel functions that Wine's
 * ntoskrnl implements are called. */
#include <ntddk.h>

#include "emulator/wine/wine_machine.h"

/* Declared by the DDK's ntifs.h, which does not mix with ntddk.h. */
NTSYSAPI NTSTATUS NTAPI ZwCreateSection(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PLARGE_INTEGER, ULONG,
                                        ULONG, HANDLE);
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE, BOOLEAN, PLARGE_INTEGER);

#define KVX_TAG 0x4B78764Bu /* "Kvx" */

#define KVX_IOCTL_MAP_PHYSICAL 0x80102040u
#define KVX_IOCTL_UNMAP_PHYSICAL 0x80102044u
#define KVX_IOCTL_DEFINE_DOS_DEVICE 0x8010208Cu
#define KVX_IOCTL_REMOVE_DOS_DEVICE 0x80102090u

#define KVX_MAPPING_RECORD_SIZE 16u
#define KVX_DOS_DEVICE_RECORD_SIZE 264u
#define KVX_DOS_TARGET_SIZE 256u
#define KVX_DOS_NAME_SIZE 8u

/* Windows error numbers of the machine's replies that the driver itself
 * gives too. */
#define KVX_ERROR_INVALID_HANDLE 6
#define KVX_ERROR_NOT_ENOUGH_MEMORY 8
#define KVX_ERROR_GEN_FAILURE 31
#define KVX_ERROR_INVALID_PARAMETER 87
#define KVX_ERROR_DEVICE_NOT_CONNECTED 1167

/* The views this driver made, and the DOS device links it made. */
#define KVX_MAX_VIEWS 64
#define KVX_MAX_DOS_LINKS 8

static const WCHAR kDeviceName[] = L"\\Device\\KVXIO";
static const WCHAR kLinkName[] = L"\\DosDevices\\KVXIO";
static const char kDeviceWord[] = "KVXIO";

typedef struct {
  HANDLE process_id; /* 0: a free slot */
  ULONG section;     /* the machine's number of the mapping */
  PVOID view;        /* where the view begins in the process */
  ULONG linear;      /* the address handed out: the range's first byte */
  ULONG length;      /* the range's length from `linear` */
} KvxView;

typedef struct {
  BOOLEAN used;
  WCHAR name[KVX_DOS_NAME_SIZE + 16];
} KvxDosLink;

/* One connection to the machine, used by one request at a time. */
static KMUTEX g_lock;
static HANDLE g_pipe;
/* The tables below; taken before g_lock where both are held. */
static KMUTEX g_table_lock;
static KvxView g_views[KVX_MAX_VIEWS];
static KvxDosLink g_links[KVX_MAX_DOS_LINKS];
static UNICODE_STRING g_parameters_key; /* the service key's Parameters */
static UNICODE_STRING g_device_name, g_link_name;

/* ---- requests and replies ---------------------------------------------- */

typedef struct {
  const char* data;
  ULONG size;
} KvxField;

#define KVX_MAX_REPLY_FIELDS 8

typedef struct {
  char* body;                              /* pool memory, the reply's body */
  ULONG count;                             /* fields kept (at most the array) */
  KvxField field[KVX_MAX_REPLY_FIELDS];
} KvxReply;

static void FreeReply(KvxReply* r) {
  if (r->body) ExFreePoolWithTag(r->body, KVX_TAG);
  r->body = NULL;
  r->count = 0;
}

static void PutU32(char* at, ULONG v) {
  at[0] = (char)(v & 0xFF);
  at[1] = (char)((v >> 8) & 0xFF);
  at[2] = (char)((v >> 16) & 0xFF);
  at[3] = (char)((v >> 24) & 0xFF);
}

static ULONG GetU32(const char* at) {
  const unsigned char* b = (const unsigned char*)at;
  return (ULONG)b[0] | ((ULONG)b[1] << 8) | ((ULONG)b[2] << 16) | ((ULONG)b[3] << 24);
}

/* `v` in decimal into `text` (room for 11); returns the length. */
static ULONG Decimal(ULONG v, char* text) {
  char rev[10];
  ULONG n = 0, i;
  do {
    rev[n++] = (char)('0' + v % 10);
    v /= 10;
  } while (v);
  for (i = 0; i < n; ++i) text[i] = rev[n - 1 - i];
  return n;
}

/* A field's decimal number; `ok` false when it is not one (or too large). */
static ULONG64 FieldNumber(const KvxField* f, BOOLEAN* ok) {
  ULONG64 v = 0;
  ULONG i;
  *ok = f->size > 0 && f->size <= 19;
  for (i = 0; *ok && i < f->size; ++i) {
    if (f->data[i] < '0' || f->data[i] > '9') *ok = FALSE;
    v = v * 10 + (ULONG64)(f->data[i] - '0');
  }
  return *ok ? v : 0;
}

static BOOLEAN FieldIs(const KvxField* f, const char* text) {
  ULONG i;
  for (i = 0; i < f->size; ++i) {
    if (text[i] == '\0' || text[i] != f->data[i]) return FALSE;
  }
  return text[f->size] == '\0';
}

/* The NTSTATUS whose Win32 error number is `error`: the system's own status
 * where the mapping is one-to-one, else the status that carries the number
 * itself. */
static NTSTATUS ErrorStatus(ULONG error) {
  switch (error) {
    case 1: return STATUS_INVALID_DEVICE_REQUEST;
    case 2: return STATUS_OBJECT_NAME_NOT_FOUND;
    case 5: return STATUS_ACCESS_DENIED;
    case 6: return STATUS_INVALID_HANDLE;
    case 8: return STATUS_NO_MEMORY;
    case 31: return STATUS_UNSUCCESSFUL;
    case 87: return STATUS_INVALID_PARAMETER;
    case 122: return STATUS_BUFFER_TOO_SMALL;
    default: break;
  }
  if (error == 0 || error > 0xFFFF) error = KVX_ERROR_GEN_FAILURE;
  return (NTSTATUS)(0xC0070000u | error);
}

static void ClosePipe(void) {
  if (g_pipe) ZwClose(g_pipe);
  g_pipe = NULL;
}

/* Opens the machine's pipe, waiting a while for a free instance; false
 * when there is no machine. */
static BOOLEAN OpenPipe(void) {
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES oa;
  IO_STATUS_BLOCK io;
  LARGE_INTEGER pause;
  NTSTATUS st;
  int tries;
  RtlInitUnicodeString(&name, KVX_WINE_PIPE_NT);
  InitializeObjectAttributes(&oa, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  pause.QuadPart = -10 * 1000 * 10; /* 10 ms */
  for (tries = 0; tries < 500; ++tries) {
    st = ZwCreateFile(&g_pipe, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &oa, &io, NULL, 0, 0, FILE_OPEN,
                      FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (NT_SUCCESS(st)) return TRUE;
    g_pipe = NULL;
    /* Every instance busy, or the next one not yet made: wait for it. */
    if (st != STATUS_PIPE_NOT_AVAILABLE && st != STATUS_INSTANCE_NOT_AVAILABLE && st != STATUS_PIPE_BUSY) {
      return FALSE;
    }
    KeDelayExecutionThread(KernelMode, FALSE, &pause);
  }
  return FALSE;
}

static BOOLEAN PipeWrite(const char* data, ULONG size) {
  while (size > 0) {
    IO_STATUS_BLOCK io;
    NTSTATUS st = ZwWriteFile(g_pipe, NULL, NULL, NULL, &io, (PVOID)data, size, NULL, NULL);
    if (!NT_SUCCESS(st) || io.Information == 0 || io.Information > size) return FALSE;
    data += io.Information;
    size -= (ULONG)io.Information;
  }
  return TRUE;
}

static BOOLEAN PipeRead(char* data, ULONG size) {
  while (size > 0) {
    IO_STATUS_BLOCK io;
    NTSTATUS st = ZwReadFile(g_pipe, NULL, NULL, NULL, &io, data, size, NULL, NULL);
    if (!NT_SUCCESS(st) || io.Information == 0 || io.Information > size) return FALSE;
    data += io.Information;
    size -= (ULONG)io.Information;
  }
  return TRUE;
}

/* The reply's body read after its byte count; false on a bad frame. */
static BOOLEAN ReadReply(KvxReply* r) {
  char head[4];
  ULONG size, count, at, i;
  if (!PipeRead(head, 4)) return FALSE;
  size = GetU32(head);
  if (size < 4 || size > KVX_WINE_FRAME_LIMIT) return FALSE;
  r->body = (char*)ExAllocatePoolWithTag(PagedPool, size, KVX_TAG);
  if (!r->body || !PipeRead(r->body, size)) return FALSE;
  count = GetU32(r->body);
  at = 4;
  for (i = 0; i < count; ++i) {
    ULONG n;
    if (size - at < 4) return FALSE;
    n = GetU32(r->body + at);
    at += 4;
    if (n > size - at) return FALSE;
    if (i < KVX_MAX_REPLY_FIELDS) {
      r->field[i].data = r->body + at;
      r->field[i].size = n;
      r->count = i + 1;
    }
    at += n;
  }
  return at == size && count > 0;
}

/* Sends one request to the machine and reads its reply. A connection that
 * the relay has closed since the last request is opened again once; a
 * request that may have reached the machine is never sent twice. Returns
 * 0, or the Windows error of the failure (reply fields then unset). */
static ULONG CallMachine(const KvxField* fields, ULONG count, KvxReply* r) {
  ULONG size = 4, i, at, error = 0;
  char* frame;
  int attempt;
  r->body = NULL;
  r->count = 0;
  for (i = 0; i < count; ++i) size += 4 + fields[i].size;
  if (size > KVX_WINE_FRAME_LIMIT) return KVX_ERROR_INVALID_PARAMETER;
  frame = (char*)ExAllocatePoolWithTag(PagedPool, size + 4, KVX_TAG);
  if (!frame) return KVX_ERROR_NOT_ENOUGH_MEMORY;
  PutU32(frame, size);
  PutU32(frame + 4, count);
  at = 8;
  for (i = 0; i < count; ++i) {
    PutU32(frame + at, fields[i].size);
    at += 4;
    if (fields[i].size) RtlCopyMemory(frame + at, fields[i].data, fields[i].size);
    at += fields[i].size;
  }
  KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, NULL);
  for (attempt = 0;; ++attempt) {
    const BOOLEAN fresh = g_pipe == NULL;
    if (fresh && !OpenPipe()) {
      error = KVX_ERROR_DEVICE_NOT_CONNECTED;
      break;
    }
    if (!PipeWrite(frame, size + 4)) {
      ClosePipe();
      if (!fresh && attempt == 0) continue;
      error = KVX_ERROR_DEVICE_NOT_CONNECTED;
      break;
    }
    if (!ReadReply(r)) {
      ClosePipe();
      FreeReply(r);
      error = KVX_ERROR_DEVICE_NOT_CONNECTED;
    }
    break;
  }
  KeReleaseMutex(&g_lock, FALSE);
  ExFreePoolWithTag(frame, KVX_TAG);
  return error;
}

/* 0 for a reply "ok"; else its error number (31 when it gives none). */
static ULONG ReplyError(const KvxReply* r) {
  BOOLEAN ok;
  ULONG64 n;
  if (r->count >= 1 && FieldIs(&r->field[0], "ok")) return 0;
  if (r->count >= 2 && FieldIs(&r->field[0], "err")) {
    n = FieldNumber(&r->field[1], &ok);
    if (ok && n > 0 && n <= 0xFFFF) return (ULONG)n;
  }
  return KVX_ERROR_GEN_FAILURE;
}

/* {"dev.unmapped","KVXIO",section}: the machine forgets the mapping. */
static ULONG TellUnmapped(ULONG section) {
  char number[11];
  KvxField f[3];
  KvxReply r;
  ULONG error;
  f[0].data = "dev.unmapped";
  f[0].size = 12;
  f[1].data = kDeviceWord;
  f[1].size = sizeof kDeviceWord - 1;
  f[2].data = number;
  f[2].size = Decimal(section, number);
  error = CallMachine(f, 3, &r);
  if (!error) error = ReplyError(&r);
  FreeReply(&r);
  return error;
}

/* ---- physical memory ----------------------------------------------------- */

/* The value of the physical memory file's path under `key_name` into `info`. */
static NTSTATUS QueryPhysicalMemoryValue(PUNICODE_STRING key_name, PKEY_VALUE_PARTIAL_INFORMATION info,
                                         ULONG size) {
  OBJECT_ATTRIBUTES oa;
  UNICODE_STRING value;
  HANDLE key;
  ULONG got = 0;
  NTSTATUS st;
  InitializeObjectAttributes(&oa, key_name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  st = ZwOpenKey(&key, KEY_QUERY_VALUE, &oa);
  if (!NT_SUCCESS(st)) return st;
  RtlInitUnicodeString(&value, KVX_WINE_PHYSMEM_VALUE);
  st = ZwQueryValueKey(key, &value, KeyValuePartialInformation, info, size - sizeof(WCHAR), &got);
  ZwClose(key);
  if (!NT_SUCCESS(st)) return st;
  if ((info->Type != REG_SZ && info->Type != REG_EXPAND_SZ) || info->DataLength < sizeof(WCHAR)) {
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  return STATUS_SUCCESS;
}

/* The NT path of the machine's physical memory file, from the service's
 * Parameters key, or else from the machine's own key, which outlives a
 * service that a library deleted and created again (read at each map: the
 * machine may change it). */
static NTSTATUS PhysicalMemoryPath(PKEY_VALUE_PARTIAL_INFORMATION* info, UNICODE_STRING* path) {
  static const WCHAR machine_key[] = L"\\Registry\\Machine\\" KVX_WINE_EMULATOR_KEY;
  UNICODE_STRING machine;
  const ULONG size = 2048;
  NTSTATUS st;
  *info = (PKEY_VALUE_PARTIAL_INFORMATION)ExAllocatePoolWithTag(PagedPool, size, KVX_TAG);
  if (!*info) return STATUS_NO_MEMORY;
  st = QueryPhysicalMemoryValue(&g_parameters_key, *info, size);
  if (!NT_SUCCESS(st)) {
    RtlInitUnicodeString(&machine, machine_key);
    st = QueryPhysicalMemoryValue(&machine, *info, size);
  }
  if (!NT_SUCCESS(st)) return st;
  path->Buffer = (PWCH)(*info)->Data;
  path->Length = (USHORT)((*info)->DataLength & ~1u);
  while (path->Length >= sizeof(WCHAR) && path->Buffer[path->Length / sizeof(WCHAR) - 1] == 0) {
    path->Length -= sizeof(WCHAR);
  }
  path->MaximumLength = path->Length;
  return path->Length ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

static NTSTATUS OpenCurrentProcess(HANDLE* process) {
  OBJECT_ATTRIBUTES oa;
  CLIENT_ID cid;
  InitializeObjectAttributes(&oa, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  cid.UniqueProcess = PsGetCurrentProcessId();
  cid.UniqueThread = NULL;
  return ZwOpenProcess(process, PROCESS_ALL_ACCESS, &oa, &cid);
}

/* Maps [base, base + length) of the physical memory file into the
 * requesting process below 4 GiB; the address of `base` in `linear`. */
static ULONG MapView(ULONG base, ULONG length, PVOID* view, ULONG* linear) {
  PKEY_VALUE_PARTIAL_INFORMATION info;
  UNICODE_STRING path;
  OBJECT_ATTRIBUTES oa;
  IO_STATUS_BLOCK io;
  HANDLE file = NULL, section = NULL, process = NULL;
  LARGE_INTEGER offset;
  SIZE_T size;
  /* A view begins on the allocation granularity; the range lies inside. */
  const ULONG lead = base & 0xFFFFu;
  ULONG error = KVX_ERROR_NOT_ENOUGH_MEMORY;
  NTSTATUS st;
  *view = NULL;
  if (length == 0) return KVX_ERROR_GEN_FAILURE;
  st = PhysicalMemoryPath(&info, &path);
  if (NT_SUCCESS(st)) {
    InitializeObjectAttributes(&oa, &path, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
    st = ZwCreateFile(&file, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &oa, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                      FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
  }
  if (info) ExFreePoolWithTag(info, KVX_TAG);
  if (NT_SUCCESS(st)) {
    st = ZwCreateSection(&section, SECTION_MAP_READ | SECTION_MAP_WRITE | SECTION_QUERY, NULL, NULL,
                         PAGE_READWRITE, SEC_COMMIT, file);
  }
  if (NT_SUCCESS(st)) st = OpenCurrentProcess(&process);
  if (NT_SUCCESS(st)) {
    offset.QuadPart = base - lead;
    size = (SIZE_T)lead + length;
    /* ZeroBits 1: the view lies below 2 GiB. */
    st = ZwMapViewOfSection(section, process, view, 1, 0, &offset, &size, ViewUnmap, 0, PAGE_READWRITE);
    if (NT_SUCCESS(st)) {
      const ULONG_PTR at = (ULONG_PTR)*view + lead;
      if (at <= 0xFFFFFFFFu - length) {
        *linear = (ULONG)at;
        error = 0;
      } else {
        ZwUnmapViewOfSection(process, *view);
        *view = NULL;
      }
    }
  }
  if (process) ZwClose(process);
  if (section) ZwClose(section);
  if (file) ZwClose(file);
  return error;
}

/* Forgets views of processes that have gone (their views went with them). */
static void PruneViews(void) {
  int i;
  for (i = 0; i < KVX_MAX_VIEWS; ++i) {
    OBJECT_ATTRIBUTES oa;
    CLIENT_ID cid;
    HANDLE process;
    LARGE_INTEGER now;
    BOOLEAN alive = FALSE;
    if (!g_views[i].process_id) continue;
    InitializeObjectAttributes(&oa, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    cid.UniqueProcess = g_views[i].process_id;
    cid.UniqueThread = NULL;
    now.QuadPart = 0;
    if (NT_SUCCESS(ZwOpenProcess(&process, SYNCHRONIZE, &oa, &cid))) {
      alive = ZwWaitForSingleObject(process, FALSE, &now) == STATUS_TIMEOUT;
      ZwClose(process);
    }
    if (!alive) {
      TellUnmapped(g_views[i].section);
      g_views[i].process_id = NULL;
    }
  }
}

static KvxView* FreeViewSlot(void) {
  int pass, i;
  for (pass = 0; pass < 2; ++pass) {
    for (i = 0; i < KVX_MAX_VIEWS; ++i) {
      if (!g_views[i].process_id) return &g_views[i];
    }
    PruneViews();
  }
  return NULL;
}

/* The machine answered a map with the record (linear address 0), then the
 * range's base and length in the memory file: the view is made here, in
 * the requesting process, and its address goes into the record. */
static ULONG CompleteMap(const KvxReply* r, char* record) {
  BOOLEAN ok1, ok2;
  const ULONG section = GetU32(record);
  const ULONG64 base = FieldNumber(&r->field[2], &ok1);
  const ULONG64 length = FieldNumber(&r->field[3], &ok2);
  KvxView* slot;
  PVOID view;
  ULONG linear = 0, error;
  if (!ok1 || !ok2 || base > 0xFFFFFFFFu || length > 0xFFFFFFFFu) {
    TellUnmapped(section);
    return KVX_ERROR_GEN_FAILURE;
  }
  KeWaitForSingleObject(&g_table_lock, Executive, KernelMode, FALSE, NULL);
  slot = FreeViewSlot();
  error = slot ? MapView((ULONG)base, (ULONG)length, &view, &linear) : KVX_ERROR_NOT_ENOUGH_MEMORY;
  if (!error) {
    slot->process_id = PsGetCurrentProcessId();
    slot->section = section;
    slot->view = view;
    slot->linear = linear;
    slot->length = (ULONG)length;
    PutU32(record + 12, linear);
  }
  KeReleaseMutex(&g_table_lock, FALSE);
  if (error) TellUnmapped(section);
  return error;
}

/* An unmap: only a view this driver made for this process and section,
 * named by an address inside it. */
static ULONG Unmap(const char* in, ULONG in_size) {
  const HANDLE me = PsGetCurrentProcessId();
  ULONG section, linear, error = 0;
  HANDLE process;
  int i;
  if (!in || in_size < KVX_MAPPING_RECORD_SIZE) return KVX_ERROR_INVALID_PARAMETER;
  section = GetU32(in);
  linear = GetU32(in + 12);
  KeWaitForSingleObject(&g_table_lock, Executive, KernelMode, FALSE, NULL);
  for (i = 0; i < KVX_MAX_VIEWS; ++i) {
    if (g_views[i].process_id == me && g_views[i].section == section) break;
  }
  if (i == KVX_MAX_VIEWS) {
    error = KVX_ERROR_INVALID_HANDLE;
  } else if (linear < g_views[i].linear || linear - g_views[i].linear >= g_views[i].length) {
    /* The address names the view as much as the handle does. */
    error = KVX_ERROR_INVALID_PARAMETER;
  } else {
    if (NT_SUCCESS(OpenCurrentProcess(&process))) {
      ZwUnmapViewOfSection(process, g_views[i].view);
      ZwClose(process);
    }
    g_views[i].process_id = NULL;
  }
  KeReleaseMutex(&g_table_lock, FALSE);
  return error ? error : TellUnmapped(section);
}

/* ---- DOS device names ---------------------------------------------------- */

/* `size` bytes of ANSI text up to its first NUL, as a wide string appended
 * to `to`; false when it is empty or holds other than printable ASCII. */
static BOOLEAN AppendAscii(UNICODE_STRING* to, const char* text, ULONG size) {
  ULONG i;
  for (i = 0; i < size && text[i]; ++i) {
    if (text[i] < 0x20 || text[i] > 0x7E || to->Length + sizeof(WCHAR) > to->MaximumLength) return FALSE;
    to->Buffer[to->Length / sizeof(WCHAR)] = (WCHAR)text[i];
    to->Length += sizeof(WCHAR);
  }
  return i > 0;
}

/* "\DosDevices\NAME:" of a DOS device record's name. */
static BOOLEAN DosLinkName(const char* record, WCHAR* buffer, USHORT bytes, UNICODE_STRING* link) {
  link->Buffer = buffer;
  link->Length = 0;
  link->MaximumLength = bytes;
  return NT_SUCCESS(RtlAppendUnicodeToString(link, L"\\DosDevices\\")) &&
         AppendAscii(link, record + KVX_DOS_TARGET_SIZE, KVX_DOS_NAME_SIZE) &&
         NT_SUCCESS(RtlAppendUnicodeToString(link, L":"));
}

static KvxDosLink* FindDosLink(const UNICODE_STRING* link) {
  int i;
  for (i = 0; i < KVX_MAX_DOS_LINKS; ++i) {
    UNICODE_STRING name;
    if (!g_links[i].used) continue;
    RtlInitUnicodeString(&name, g_links[i].name);
    if (RtlEqualUnicodeString(&name, link, TRUE)) return &g_links[i];
  }
  return NULL;
}

/* After the machine defined or removed a DOS device name (its drive link in
 * the prefix): the same name in the object manager, so that the system's
 * list of DOS devices shows it. */
static void MirrorDosDevice(const char* record, BOOLEAN remove) {
  WCHAR link_buffer[KVX_DOS_NAME_SIZE + 16];
  WCHAR target_buffer[KVX_DOS_TARGET_SIZE];
  UNICODE_STRING link, target;
  KvxDosLink* made;
  int i;
  if (!DosLinkName(record, link_buffer, sizeof link_buffer, &link)) return;
  KeWaitForSingleObject(&g_table_lock, Executive, KernelMode, FALSE, NULL);
  made = FindDosLink(&link);
  if (made) {
    IoDeleteSymbolicLink(&link);
    made->used = FALSE;
  }
  if (!remove) {
    target.Buffer = target_buffer;
    target.Length = 0;
    target.MaximumLength = sizeof target_buffer;
    i = 0;
    while (i < KVX_MAX_DOS_LINKS && g_links[i].used) ++i;
    if (i < KVX_MAX_DOS_LINKS && AppendAscii(&target, record, KVX_DOS_TARGET_SIZE) &&
        NT_SUCCESS(IoCreateSymbolicLink(&link, &target))) {
      RtlCopyMemory(g_links[i].name, link.Buffer, link.Length);
      g_links[i].name[link.Length / sizeof(WCHAR)] = 0;
      g_links[i].used = TRUE;
    }
  }
  KeReleaseMutex(&g_table_lock, FALSE);
}

/* ---- dispatch -------------------------------------------------------------- */

static NTSTATUS Complete(PIRP irp, NTSTATUS st, ULONG_PTR information) {
  irp->IoStatus.Status = st;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return st;
}

/* An open the machine refused leaves its error on the file object, and
 * every request on that handle fails with it: Wine's CreateFile returns
 * before the driver has answered the open, so the refusal itself cannot
 * reach the caller there. */
static ULONG OpenError(PIO_STACK_LOCATION s) {
  return s->FileObject ? (ULONG)(ULONG_PTR)s->FileObject->FsContext : 0;
}

static NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION s = IoGetCurrentIrpStackLocation(irp);
  KvxField f[3];
  KvxReply r;
  ULONG error;
  (void)device;
  f[0].data = "dev.open";
  f[0].size = 8;
  f[1].data = kDeviceWord;
  f[1].size = sizeof kDeviceWord - 1;
  f[2].data = "nt";
  f[2].size = 2;
  error = CallMachine(f, 3, &r);
  if (!error) error = ReplyError(&r);
  FreeReply(&r);
  if (s->FileObject) s->FileObject->FsContext = (PVOID)(ULONG_PTR)error;
  return Complete(irp, error ? ErrorStatus(error) : STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION s = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = s->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in_size = s->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out_size = s->Parameters.DeviceIoControl.OutputBufferLength;
  const BOOLEAN neither = (code & 3) == METHOD_NEITHER;
  const char* in = (const char*)(neither ? s->Parameters.DeviceIoControl.Type3InputBuffer
                                         : irp->AssociatedIrp.SystemBuffer);
  char* out = (char*)(neither ? irp->UserBuffer : irp->AssociatedIrp.SystemBuffer);
  char code_text[11], size_text[11];
  KvxField f[5];
  KvxReply r;
  ULONG error, returned = 0;
  (void)device;
  error = OpenError(s);
  if (error) return Complete(irp, ErrorStatus(error), 0);
  if (code == KVX_IOCTL_UNMAP_PHYSICAL) {
    error = Unmap(in, in_size);
    return Complete(irp, error ? ErrorStatus(error) : STATUS_SUCCESS, 0);
  }
  f[0].data = "dev.ioctl";
  f[0].size = 9;
  f[1].data = kDeviceWord;
  f[1].size = sizeof kDeviceWord - 1;
  f[2].data = code_text;
  f[2].size = Decimal(code, code_text);
  f[3].data = in;
  f[3].size = in ? in_size : 0;
  f[4].data = size_text;
  f[4].size = Decimal(out_size, size_text);
  error = CallMachine(f, 5, &r);
  if (!error) error = ReplyError(&r);
  if (!error && r.count >= 2) {
    KvxField data = r.field[1];
    if (code == KVX_IOCTL_MAP_PHYSICAL) {
      /* The record is read and completed here, whatever the caller's room. */
      if (r.count < 4 || data.size < KVX_MAPPING_RECORD_SIZE) {
        error = KVX_ERROR_GEN_FAILURE;
      } else {
        error = CompleteMap(&r, (char*)data.data);
      }
    }
    if (!error && in && in_size >= KVX_DOS_DEVICE_RECORD_SIZE &&
        (code == KVX_IOCTL_DEFINE_DOS_DEVICE || code == KVX_IOCTL_REMOVE_DOS_DEVICE)) {
      MirrorDosDevice(in, code == KVX_IOCTL_REMOVE_DOS_DEVICE);
    }
    if (!error) {
      /* The caller's output overlays its input: written last. */
      returned = data.size < out_size ? data.size : out_size;
      if (returned && !out) returned = 0;
      if (returned) RtlCopyMemory(out, data.data, returned);
    }
  }
  FreeReply(&r);
  return Complete(irp, error ? ErrorStatus(error) : STATUS_SUCCESS, returned);
}

static void DriverUnload(PDRIVER_OBJECT driver) {
  int i;
  for (i = 0; i < KVX_MAX_DOS_LINKS; ++i) {
    if (g_links[i].used) {
      UNICODE_STRING name;
      RtlInitUnicodeString(&name, g_links[i].name);
      IoDeleteSymbolicLink(&name);
      g_links[i].used = FALSE;
    }
  }
  IoDeleteSymbolicLink(&g_link_name);
  if (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
  ClosePipe();
  if (g_parameters_key.Buffer) ExFreePoolWithTag(g_parameters_key.Buffer, KVX_TAG);
  g_parameters_key.Buffer = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  static const WCHAR parameters[] = L"\\Parameters";
  PDEVICE_OBJECT device;
  NTSTATUS st;
  const ULONG bytes = registry_path->Length + sizeof parameters;
  if (bytes > 0xFFFF) return STATUS_INVALID_PARAMETER;
  KeInitializeMutex(&g_lock, 0);
  KeInitializeMutex(&g_table_lock, 0);
  g_pipe = NULL;
  g_parameters_key.Buffer = (PWCH)ExAllocatePoolWithTag(PagedPool, bytes, KVX_TAG);
  if (!g_parameters_key.Buffer) return STATUS_NO_MEMORY;
  g_parameters_key.Length = 0;
  g_parameters_key.MaximumLength = (USHORT)bytes;
  RtlCopyUnicodeString(&g_parameters_key, registry_path);
  RtlAppendUnicodeToString(&g_parameters_key, parameters);

  RtlInitUnicodeString(&g_device_name, kDeviceName);
  RtlInitUnicodeString(&g_link_name, kLinkName);
  st = IoCreateDevice(driver, 0, &g_device_name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (NT_SUCCESS(st)) {
    st = IoCreateSymbolicLink(&g_link_name, &g_device_name);
    if (!NT_SUCCESS(st)) IoDeleteDevice(device);
  }
  if (!NT_SUCCESS(st)) {
    ExFreePoolWithTag(g_parameters_key.Buffer, KVX_TAG);
    g_parameters_key.Buffer = NULL;
    return st;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = DriverUnload;
  return STATUS_SUCCESS;
}
