// vreader.cpp - the vreader tool: attaches virtual readers to the virtual
// reader driver and inspects and drives them through its control device.
//
// Exit status: 0 on success, 1 when the request could not be carried out,
// 2 for bad arguments; every failure prints one line on stderr.
#include <windows.h>

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver/control_protocol.h"
#include "model/description.h"
#include "model/image_file.h"

using namespace vreader;
using namespace vreader::control;

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: vreader COMMAND ...\n"
    "  attach INDEX FILE [--replace]     attach a reader described by FILE\n"
    "  attach INDEX [--replace] --KEY VALUE ...\n"
    "                                    the same from options: --model 4 --serial TV-1 ...\n"
    "                                    (any key of the description: model identity1 serial\n"
    "                                    userdata image replay fault short_read button stream seed)\n"
    "  detach INDEX                      take the reader away\n"
    "  list                              one line per attached reader\n"
    "  log INDEX                         the request log, one request or read per line\n"
    "  log INDEX --clear                 empty the request log\n"
    "  fault INDEX NAME [--nth N]        request NAME (or READ) fails always, or its Nth time\n"
    "  fault INDEX --clear               no more faults\n"
    "  press INDEX STATUS                set the button status word and notify\n"
    "  state INDEX                       LED, button, smart card, faults, registers\n"
    "  led INDEX                         on or off\n"
    "  scard INDEX ADDRESS LENGTH        bytes of the smart-card store\n"
    "  memory INDEX ADDRESS LENGTH       bytes of the parameter memory\n"
    "  short-read INDEX BYTES            reads deliver at most BYTES (0: all)\n"
    "INDEX is 0 to 15; numbers may be decimal or 0x hex.\n";

// One line on stderr, then the given exit status.
[[noreturn]] void Quit(int status, const char *format, ...) {
    va_list args;
    va_start(args, format);
    fputs("vreader: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    exit(status);
}

bool ParseNumber(const char *text, uint32_t *value) {
    if (!*text || *text == '-' || *text == '+' || isspace(static_cast<unsigned char>(*text)))
        return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 0);
    if (*end || errno || v > 0xFFFFFFFFull) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

uint32_t Number(const char *text, const char *what) {
    uint32_t value;
    if (!ParseNumber(text, &value)) Quit(kUsage, "%s must be a number: %s", what, text);
    return value;
}

uint32_t Index(const char *text) {
    uint32_t index;
    if (!ParseNumber(text, &index) || index >= kMaxReaders)
        Quit(kUsage, "INDEX must be a number from 0 to %u: %s", kMaxReaders - 1, text);
    return index;
}

// ---- the control device ----

HANDLE gControl = INVALID_HANDLE_VALUE;

void OpenControl() {
    gControl = CreateFileA(kControlPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (gControl == INVALID_HANDLE_VALUE)
        Quit(kFailed,
             "the virtual reader driver is not running (cannot open %s, error %lu); "
             "start it with \"sc start %s\" or work inside scripts/wine-session",
             kControlPath, GetLastError(), kServiceName);
}

// What a refused request means, in the tool's words.
[[noreturn]] void Refused(const char *what, uint32_t index, DWORD error) {
    switch (error) {
        case ERROR_DEVICE_NOT_CONNECTED:
            Quit(kFailed, "%s: no reader is attached at index %u", what, index);
        case ERROR_ALREADY_EXISTS:
            Quit(kFailed, "%s: a reader is already attached at index %u (detach it, or use --replace)",
                 what, index);
        case ERROR_NOT_SUPPORTED:
            Quit(kFailed, "%s: reader %u belongs to a device node; it goes when the node is removed",
                 what, index);
        case ERROR_REVISION_MISMATCH:
            Quit(kFailed, "%s: this vreader.exe and the running driver come from different builds",
                 what);
        case ERROR_NOT_ENOUGH_QUOTA:
            Quit(kFailed, "%s: reader %u has no room for another fault (at most %u)", what, index,
                 kMaxFaults);
        case ERROR_NO_SYSTEM_RESOURCES:
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            Quit(kFailed, "%s: the driver has no memory for the reader", what);
        default:
            Quit(kFailed, "%s: the driver refused the request (error %lu)", what, error);
    }
}

void Send(const char *what, uint32_t index, uint32_t code, const void *in, size_t inSize,
          void *out = nullptr, size_t outSize = 0, DWORD *returned = nullptr) {
    DWORD count = 0;
    if (!DeviceIoControl(gControl, code, const_cast<void *>(in), static_cast<DWORD>(inSize), out,
                         static_cast<DWORD>(outSize), &count, nullptr))
        Refused(what, index, GetLastError());
    if (returned) *returned = count;
}

// ---- text forms ----

std::string Hex(const uint8_t *bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// A raw 32-byte area as quoted text up to its first zero byte.
std::string Area(const uint8_t *bytes, size_t size) {
    std::string text = "\"";
    for (size_t i = 0; i < size && bytes[i]; ++i) {
        uint8_t c = bytes[i];
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text + "\"";
}

std::string CodeName(uint32_t code) {
    if (const char *name = RequestName(code)) return name;
    char text[16];
    snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

const char *OriginName(uint32_t origin) {
    return origin == kDeviceNode ? "device-node" : "attached";
}

// ---- reading a description and its files ----

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *bytes, size_t limit) {
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + n);
        if (bytes->size() > limit) break;
    }
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

bool IsAbsolute(const char *path) {
    return path[0] == '\\' || path[0] == '/' || (path[0] && path[1] == ':');
}

// A file named in a description is found beside the description.
std::string Beside(const std::string &base, const char *path) {
    if (IsAbsolute(path) || base.empty()) return path;
    size_t slash = base.find_last_of("\\/");
    if (slash == std::string::npos) return path;
    return base.substr(0, slash + 1) + path;
}

// A file name of the description, found beside the description; false
// when the joined name no longer fits the description's field.
bool Resolve(const std::string &base, char *name) {
    if (!*name || strncmp(name, "synthetic:", 10) == 0) return true;
    std::string path = Beside(base, name);
    if (path.size() >= kPathSize) return false;
    strcpy(name, path.c_str());
    return true;
}

// Fills the picture and the replay bytes of the attach request.
void LoadFiles(const char *source, const std::string &base, AttachRequest *request,
               std::vector<uint8_t> *replay) {
    Description &d = request->description;
    const std::string image = d.image, replayName = d.replay;
    if (!Resolve(base, d.image) || !Resolve(base, d.replay))
        Quit(kFailed, "%s: a file name is too long once joined to the description's folder",
             source);
    std::string error;
    if (!LoadReaderImage(d, request->image, &error))
        Quit(kFailed, "%s: image = %s: %s", source, image.c_str(), error.c_str());
    replay->clear();
    if (d.replay[0]) {
        if (!ReadFileBytes(d.replay, replay, kMaxReplay))
            Quit(kFailed, "%s: replay = %s: cannot read %s", source, replayName.c_str(), d.replay);
        if (replay->size() > kMaxReplay)
            Quit(kFailed, "%s: replay = %s: more than %u bytes", source, replayName.c_str(),
                 kMaxReplay);
    }
}

// The description text that attach options stand for: "--KEY VALUE"
// becomes the line "KEY = VALUE" (a dash in KEY reads as an underscore).
struct OptionLines {
    std::string text;
    std::vector<std::string> options;  // the option behind each line
};

void DescribeFromFile(const char *path, Description *description) {
    std::vector<uint8_t> text;
    if (!ReadFileBytes(path, &text, 1u << 20))
        Quit(kFailed, "cannot read the reader description %s", path);
    ParseError error;
    if (!ParseDescription(reinterpret_cast<const char *>(text.data()), text.size(), description,
                          &error))
        Quit(kFailed, "%s: %s", path, error.message);
}

void DescribeFromOptions(const OptionLines &lines, Description *description) {
    ParseError error;
    if (ParseDescription(lines.text.data(), lines.text.size(), description, &error)) return;
    // "line N: ..." names a line the user never wrote: name the option.
    const char *message = error.message;
    if (const char *colon = strstr(message, ": ")) message = colon + 2;
    const std::string &option =
        error.line >= 1 && static_cast<size_t>(error.line) <= lines.options.size()
            ? lines.options[error.line - 1]
            : std::string("options");
    Quit(kUsage, "%s: %s", option.c_str(), message);
}

// ---- commands ----

int Attach(int argc, char **argv) {
    if (argc < 3) Quit(kUsage, "attach needs INDEX and a FILE or --KEY VALUE options (see vreader help)");
    uint32_t index = Index(argv[2]);
    bool replace = false;
    const char *file = nullptr;
    OptionLines lines;
    for (int i = 3; i < argc; ++i) {
        const char *arg = argv[i];
        if (strcmp(arg, "--replace") == 0) {
            replace = true;
        } else if (strncmp(arg, "--", 2) == 0 && arg[2]) {
            if (i + 1 >= argc) Quit(kUsage, "%s needs a value", arg);
            std::string key = arg + 2;
            for (char &c : key)
                if (c == '-') c = '_';
            const char *value = argv[++i];
            if (strchr(value, '\n') || strchr(value, '#'))
                Quit(kUsage, "%s: a value may hold neither a line break nor '#'", arg);
            lines.text += key + " = " + value + "\n";
            lines.options.push_back(arg);
        } else if (!file) {
            file = arg;
        } else {
            Quit(kUsage, "attach takes one FILE: %s", arg);
        }
    }
    if (file && !lines.options.empty())
        Quit(kUsage, "attach takes a FILE or --KEY VALUE options, not both");
    if (!file && lines.options.empty())
        Quit(kUsage, "attach needs a FILE or --KEY VALUE options (see vreader help)");

    std::vector<uint8_t> record(sizeof(AttachRequest));
    AttachRequest *request = reinterpret_cast<AttachRequest *>(record.data());
    if (file)
        DescribeFromFile(file, &request->description);
    else
        DescribeFromOptions(lines, &request->description);
    std::vector<uint8_t> replay;
    LoadFiles(file ? file : "options", file ? file : "", request, &replay);

    request->descriptionSize = sizeof(Description);
    request->replaySize = static_cast<uint32_t>(replay.size());
    request->index = index;
    request->flags = (replace ? static_cast<uint32_t>(kAttachReplace) : 0u) |
                     (request->description.replay[0] ? static_cast<uint32_t>(kAttachReplay) : 0u);
    record.insert(record.end(), replay.begin(), replay.end());
    request = reinterpret_cast<AttachRequest *>(record.data());

    OpenControl();
    Send("attach", index, VR_ATTACH, record.data(), record.size());
    printf("reader %u attached: model %c\n", index, request->description.identity[0]);
    return 0;
}

int Detach(int argc, char **argv) {
    if (argc != 3) Quit(kUsage, "detach needs INDEX");
    IndexRequest request = {Index(argv[2])};
    OpenControl();
    Send("detach", request.index, VR_DETACH, &request, sizeof request);
    return 0;
}

int List(int argc, char **) {
    if (argc != 2) Quit(kUsage, "list takes no arguments");
    OpenControl();
    ListReply reply;
    Send("list", 0, VR_LIST, nullptr, 0, &reply, sizeof reply);
    for (uint32_t i = 0; i < reply.count && i < kMaxReaders; ++i) {
        const ReaderInfo &r = reply.readers[i];
        printf("%u %s model=%s serial=%s userdata=%s led=%s button=%s log=%u\n", r.index,
               OriginName(r.origin), Area(r.identity, 1).c_str(), Area(r.serial, 32).c_str(),
               Area(r.userdata, 32).c_str(), r.led ? "on" : "off",
               r.buttonRegistered ? "registered" : "none", r.logCount);
    }
    return 0;
}

int Log(int argc, char **argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "--clear") != 0))
        Quit(kUsage, "log needs INDEX, optionally followed by --clear");
    uint32_t index = Index(argv[2]);
    OpenControl();
    if (argc == 4) {
        IndexRequest request = {index};
        Send("log", index, VR_LOG_CLEAR, &request, sizeof request);
        return 0;
    }
    constexpr uint32_t kPage = 256;
    std::vector<uint8_t> reply(sizeof(LogReply) + kPage * sizeof(LogEntry));
    uint32_t first = 0;
    for (;;) {
        LogRequest request = {index, first};
        DWORD got = 0;
        Send("log", index, VR_LOG_READ, &request, sizeof request, reply.data(), reply.size(), &got);
        const LogReply *header = reinterpret_cast<const LogReply *>(reply.data());
        if (got < sizeof(LogReply) || got < sizeof(LogReply) + header->count * sizeof(LogEntry))
            Quit(kFailed, "log: the driver's reply is cut short");
        if (first == 0 && header->dropped)
            fprintf(stderr, "vreader: %u older requests are no longer kept\n", header->dropped);
        const LogEntry *entries =
            reinterpret_cast<const LogEntry *>(reply.data() + sizeof(LogReply));
        for (uint32_t i = 0; i < header->count; ++i) {
            const LogEntry &e = entries[i];
            uint32_t kept = e.inputSize < kLogInputBytes ? e.inputSize : kLogInputBytes;
            std::string input = e.inputSize ? Hex(e.input, kept) : "-";
            if (kept < e.inputSize) input += "...(" + std::to_string(e.inputSize) + " bytes)";
            printf("%s in=%s out=%u %s returned=%u\n", CodeName(e.code).c_str(), input.c_str(),
                   e.outputSize, e.ok ? "ok" : "failed", e.returned);
        }
        first += header->count;
        if (header->count == 0 || first >= header->total) break;
    }
    return 0;
}

int FaultCommand(int argc, char **argv) {
    if (argc < 4) Quit(kUsage, "fault needs INDEX and a request NAME (or --clear)");
    uint32_t index = Index(argv[2]);
    if (strcmp(argv[3], "--clear") == 0) {
        if (argc != 4) Quit(kUsage, "fault INDEX --clear takes nothing more");
        IndexRequest request = {index};
        OpenControl();
        Send("fault", index, VR_CLEAR_FAULTS, &request, sizeof request);
        return 0;
    }
    FaultRequest request = {index, 0, 0};
    const char *name = argv[3];
    if (strcmp(name, "READ") != 0) {
        request.code = RequestCode(name);
        if (!request.code) Quit(kUsage, "unknown request name: %s (REQ_MEMORY_READ, READ, ...)", name);
    }
    if (argc == 6 && strcmp(argv[4], "--nth") == 0) {
        request.nth = Number(argv[5], "--nth");
        if (request.nth == 0) Quit(kUsage, "--nth counts from 1");
    } else if (argc != 4) {
        Quit(kUsage, "fault INDEX NAME takes only --nth N after the name");
    }
    OpenControl();
    Send("fault", index, VR_FAULT, &request, sizeof request);
    return 0;
}

int Press(int argc, char **argv) {
    if (argc != 4) Quit(kUsage, "press needs INDEX and STATUS");
    PressRequest request = {Index(argv[2]), Number(argv[3], "STATUS")};
    OpenControl();
    Send("press", request.index, VR_PRESS, &request, sizeof request);
    return 0;
}

StateReply FetchState(const char *what, uint32_t index) {
    IndexRequest request = {index};
    StateReply state;
    OpenControl();
    Send(what, index, VR_STATE, &request, sizeof request, &state, sizeof state);
    return state;
}

int State(int argc, char **argv) {
    if (argc != 3) Quit(kUsage, "state needs INDEX");
    StateReply s = FetchState("state", Index(argv[2]));
    static const char *const kBindings[] = {"not bound", "bound by handle", "bound by name"};
    printf("reader: %u %s\n", s.index, OriginName(s.origin));
    printf("identity: %s\n", Hex(s.identity, 2).c_str());
    printf("led: %s\n", s.led ? "on" : "off");
    if (s.buttonRegistered)
        printf("button: registered event 0x%08x, %s\n", s.buttonEvent,
               kBindings[s.eventBinding < 3 ? s.eventBinding : 0]);
    else
        printf("button: none registered\n");
    printf("button status: 0x%08x\n", s.buttonStatus);
    printf("button notifications: %u\n", s.signals);
    printf("smart card: address 0x%04x auxiliary 0x%04x\n", s.scardAddress, s.scardAuxiliary);
    printf("short reads: %u\n", s.shortRead);
    printf("replay: %u bytes\n", s.replaySize);
    for (uint32_t i = 0; i < s.faultCount && i < kMaxFaults; ++i) {
        const Fault &f = s.faults[i];
        if (f.nth)
            printf("fault: %s time %u (seen %u)\n", CodeName(f.code).c_str(), f.nth, f.seen);
        else
            printf("fault: %s always (seen %u)\n", CodeName(f.code).c_str(), f.seen);
    }
    std::string registers;
    for (uint32_t r = 0; r < 256; ++r) {
        if (!s.registers[r]) continue;
        char one[16];
        snprintf(one, sizeof one, " %u=0x%02x", r, s.registers[r]);
        registers += one;
    }
    printf("registers:%s\n", registers.empty() ? " all zero" : registers.c_str());
    return 0;
}

int Led(int argc, char **argv) {
    if (argc != 3) Quit(kUsage, "led needs INDEX");
    printf("%s\n", FetchState("led", Index(argv[2])).led ? "on" : "off");
    return 0;
}

int Peek(int argc, char **argv, PeekSpace space) {
    if (argc != 5) Quit(kUsage, "%s needs INDEX, ADDRESS and LENGTH", argv[1]);
    PeekRequest request = {Index(argv[2]), space, Number(argv[3], "ADDRESS"),
                           Number(argv[4], "LENGTH")};
    uint32_t limit = space == kPeekScard ? kScardSize : kMemorySize;
    if (request.address >= limit || request.length > limit ||
        (space == kPeekParameters && request.address + request.length > limit))
        Quit(kUsage, "%s: ADDRESS and LENGTH must lie inside 0 to %u", argv[1], limit - 1);
    std::vector<uint8_t> bytes(request.length ? request.length : 1);
    DWORD got = 0;
    OpenControl();
    Send(argv[1], request.index, VR_PEEK, &request, sizeof request, bytes.data(), request.length,
         &got);
    for (DWORD at = 0; at < got; at += 16) {
        DWORD n = got - at < 16 ? got - at : 16;
        printf("%04x: %s\n", static_cast<unsigned>((request.address + at) % limit),
               Hex(bytes.data() + at, n).c_str());
    }
    return 0;
}

int ShortRead(int argc, char **argv) {
    if (argc != 4) Quit(kUsage, "short-read needs INDEX and BYTES");
    ValueRequest request = {Index(argv[2]), Number(argv[3], "BYTES")};
    OpenControl();
    Send("short-read", request.index, VR_SHORT_READ, &request, sizeof request);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    // Plain line feeds: the output is read by scripts as often as by people.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2) {
        fputs(kUsageText, stderr);
        return kUsage;
    }
    const char *command = argv[1];
    if (!strcmp(command, "help") || !strcmp(command, "--help") || !strcmp(command, "-h")) {
        fputs(kUsageText, stdout);
        return 0;
    }
    if (!strcmp(command, "attach")) return Attach(argc, argv);
    if (!strcmp(command, "detach")) return Detach(argc, argv);
    if (!strcmp(command, "list")) return List(argc, argv);
    if (!strcmp(command, "log")) return Log(argc, argv);
    if (!strcmp(command, "fault")) return FaultCommand(argc, argv);
    if (!strcmp(command, "press")) return Press(argc, argv);
    if (!strcmp(command, "state")) return State(argc, argv);
    if (!strcmp(command, "led")) return Led(argc, argv);
    if (!strcmp(command, "scard")) return Peek(argc, argv, kPeekScard);
    if (!strcmp(command, "memory")) return Peek(argc, argv, kPeekParameters);
    if (!strcmp(command, "short-read")) return ShortRead(argc, argv);
    Quit(kUsage, "unknown command: %s (see vreader help)", command);
}
