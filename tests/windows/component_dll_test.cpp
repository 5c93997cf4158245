// One component DLL on Windows (or under Wine), used the way an application
// uses it: RoInitialize, LoadLibraryW, the two exports, activation, the
// inspectable and weak-reference interfaces, reads of the sample frames
// through readAztecCamera, frames that must be refused, the 8.1 builds'
// stdout announcement, and unloading.
//
//   component_dll_test <dll> <namespace> <samples folder>
//
// Prints one line per failed check and closes with "N passed, N failed";
// the exit code is 1 when anything failed.
#include <io.h>
#include <roapi.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quarrow/runtime.h"

namespace {

namespace qp = quarrow::platform;

int passed = 0;
int failedChecks = 0;

bool check(bool ok, const char* what, int line, const std::string& context = {}) {
    if (ok) {
        ++passed;
    } else {
        ++failedChecks;
        std::printf("FAILED line %d: %s%s%s\n", line, what, context.empty() ? "" : " -- ", context.c_str());
        std::fflush(stdout);
    }
    return ok;
}
#define CHECK(cond) check((cond), #cond, __LINE__)
#define CHECK_AT(cond, context) check((cond), #cond, __LINE__, (context))

// What the test knows of each deliverable.
struct Deliverable {
    const char* ns;
    const wchar_t* readerClass;
    const wchar_t* factoryClass;
    qp::Guid readerIid;
    bool announcesCalls;
};

const Deliverable kDeliverables[] = {
    {"QuarrowWindows10", L"QuarrowWindows10.AztecReader", L"QuarrowWindows10.__AztecReaderActivationFactory",
     qp::IID_IAztecReader_QuarrowWindows10, false},
    {"QuarrowWindows81", L"QuarrowWindows81.AztecReader", L"QuarrowWindows81.__AztecReaderActivationFactory",
     qp::IID_IAztecReader_QuarrowWindows81, true},
    {"QuarrowWP81", L"QuarrowWP81.AztecReader", L"QuarrowWP81.__AztecReaderActivationFactory",
     qp::IID_IAztecReader_QuarrowWP81, true},
};

// Owns one reference.
template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// Owns one string handle.
class Text {
public:
    Text() = default;
    ~Text() { WindowsDeleteString(s_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    HSTRING* put() {
        WindowsDeleteString(s_);
        s_ = nullptr;
        return &s_;
    }
    HSTRING get() const { return s_; }
    std::wstring str() const {
        UINT32 length = 0;
        const wchar_t* chars = WindowsGetStringRawBuffer(s_, &length);
        return std::wstring(chars, length);
    }

private:
    HSTRING s_ = nullptr;
};

HRESULT makeString(const std::wstring& s, Text& out) {
    return WindowsCreateString(s.data(), static_cast<UINT32>(s.size()), out.put());
}

std::string narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Each byte as one code unit, as the reader returns its text.
std::wstring widenBytes(const std::string& bytes) {
    std::wstring out;
    for (unsigned char b : bytes) out += static_cast<wchar_t>(b);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Frame {
    INT32 width = 0;
    INT32 height = 0;
    std::vector<BYTE> pixels;
};

// A binary 8-bit PGM (P5); an empty frame when it is not one.
Frame readPgm(const std::string& path) {
    const std::string file = readFile(path);
    std::size_t pos = 2;
    auto number = [&]() -> long {
        while (pos < file.size()) {
            if (file[pos] == '#') {
                while (pos < file.size() && file[pos] != '\n') ++pos;
            } else if (std::strchr(" \t\r\n", file[pos]) != nullptr) {
                ++pos;
            } else {
                break;
            }
        }
        long value = 0;
        while (pos < file.size() && file[pos] >= '0' && file[pos] <= '9') value = value * 10 + (file[pos++] - '0');
        return value;
    };
    Frame f;
    if (file.compare(0, 2, "P5") != 0) return f;
    const long width = number(), height = number(), maxValue = number();
    ++pos;  // the one whitespace byte after the header
    if (maxValue != 255 || width <= 0 || height <= 0 || file.size() < pos + std::size_t(width * height)) return f;
    f.width = static_cast<INT32>(width);
    f.height = static_cast<INT32>(height);
    f.pixels.assign(file.begin() + static_cast<std::ptrdiff_t>(pos),
                    file.begin() + static_cast<std::ptrdiff_t>(pos + std::size_t(width * height)));
    return f;
}

// Redirects the process's standard output (file descriptor 1, which the
// DLL shares through msvcrt) into a temporary file until finish().
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = _dup(1);
        if (file_ != nullptr && saved_ >= 0) _dup2(_fileno(file_), 1);
    }
    std::string finish() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            _dup2(saved_, 1);
            _close(saved_);
        }
        std::string out;
        if (file_ == nullptr) return "<no capture>";
        std::rewind(file_);
        int c;
        while ((c = std::fgetc(file_)) != EOF) out += static_cast<char>(c);
        std::fclose(file_);
        return out;
    }

private:
    FILE* file_ = nullptr;
    int saved_ = -1;
};

// The PE tables of a loaded module (the handle is its base address).
const IMAGE_DATA_DIRECTORY& directory(HMODULE module, int entry) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[entry];
}

std::vector<std::string> exportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& dir = directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    std::vector<std::string> names;
    if (dir.Size == 0) return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    // Exports by ordinal only would not be named: count them too.
    if (exports->NumberOfFunctions != exports->NumberOfNames) names.emplace_back("<ordinal-only export>");
    return names;
}

std::vector<std::string> importedDlls(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& dir = directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    std::vector<std::string> names;
    if (dir.Size == 0) return names;
    for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name(reinterpret_cast<const char*>(base + entry->Name));
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        names.push_back(name);
    }
    return names;
}

// Only DLLs that every Windows has: nothing of gcc's runtime.
bool isSystemDll(const std::string& name) {
    return name == "kernel32.dll" || name == "msvcrt.dll" || name == "ole32.dll" ||
           name.rfind("api-ms-win-core-winrt-", 0) == 0;
}

struct Exports {
    qp::DllGetActivationFactoryFn getFactory = nullptr;
    qp::DllCanUnloadNowFn canUnloadNow = nullptr;

    HRESULT factory(const std::wstring& name, IActivationFactory** out) const {
        Text s;
        const HRESULT hr = makeString(name, s);
        return FAILED(hr) ? hr : getFactory(s.get(), out);
    }
};

// GetIids answers exactly `iid`.
void checkIids(IInspectable* object, const qp::Guid& iid) {
    ULONG count = 0;
    IID* iids = nullptr;
    CHECK(object->GetIids(&count, &iids) == S_OK);
    CHECK(count == 1 && iids != nullptr && iids[0] == iid);
    CoTaskMemFree(iids);
    CHECK(object->GetIids(nullptr, &iids) == E_POINTER);
}

void checkInspectable(IInspectable* object, const wchar_t* className, const qp::Guid& iid) {
    Text name;
    CHECK(object->GetRuntimeClassName(name.put()) == S_OK);
    CHECK_AT(name.str() == className, narrow(name.str()));
    TrustLevel trust = FullTrust;
    CHECK(object->GetTrustLevel(&trust) == S_OK && trust == BaseTrust);
    checkIids(object, iid);
}

// One read; `text` receives the result (also when it fails).
HRESULT read(qp::IAztecReader* reader, UINT32 length, const BYTE* frame, INT32 width, INT32 height,
             std::wstring& text) {
    Text result;
    // A non-null handle goes in: the call must set the result itself.
    HSTRING* slot = result.put();
    *slot = reinterpret_cast<HSTRING>(&text);
    const HRESULT hr = reader->readAztecCamera(length, frame, width, height, slot);
    if (*slot == reinterpret_cast<HSTRING>(&text)) {
        *slot = nullptr;
        text = L"<result not set>";
        return hr;
    }
    text = result.str();
    if (FAILED(hr) && result.get() != nullptr) text = L"<result set on failure>";
    return hr;
}

struct Sample {
    std::string name;
    Frame frame;
    std::string expected;
};

struct ThreadRead {
    qp::IAztecReader* reader;
    const Sample* sample;
    HRESULT hr = E_FAIL;
    std::wstring text;
};

DWORD WINAPI readOnThread(void* param) {
    auto* job = static_cast<ThreadRead*>(param);
    const Frame& f = job->sample->frame;
    job->hr = read(job->reader, static_cast<UINT32>(f.pixels.size()), f.pixels.data(), f.width, f.height, job->text);
    return 0;
}

void testReads(qp::IAztecReader* reader, const Deliverable& d, const std::string& samples) {
    // Every <name>.pgm of the folder, with the exact bytes in <name>.txt.
    std::vector<Sample> all;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((samples + "/*.pgm").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        const std::string file = found.cFileName;
        const std::string name = file.substr(0, file.size() - 4);
        Sample s{name, readPgm(samples + "/" + file), readFile(samples + "/" + name + ".txt")};
        if (!CHECK_AT(!s.frame.pixels.empty() && !s.expected.empty(), name)) continue;
        all.push_back(std::move(s));
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    CHECK_AT(all.size() >= 6, "samples found: " + std::to_string(all.size()));  // the repository ships six
    StdoutCapture capture;
    int calls = 0;
    // Every sample, twice: the reader keeps nothing between calls.
    std::vector<std::pair<std::string, bool>> results;
    for (const Sample& s : all) {
        for (int round = 0; round < 2; ++round) {
            std::wstring text;
            const HRESULT hr = read(reader, static_cast<UINT32>(s.frame.pixels.size()), s.frame.pixels.data(),
                                    s.frame.width, s.frame.height, text);
            ++calls;
            results.emplace_back(s.name, hr == S_OK && text == widenBytes(s.expected));
        }
    }
    // Frames that are refused: S_OK with the null (empty) string.
    const Frame& f = all.empty() ? Frame{} : all.front().frame;
    const UINT32 size = static_cast<UINT32>(f.pixels.size());
    const BYTE* bytes = f.pixels.data();
    struct Bad {
        const char* what;
        UINT32 length;
        const BYTE* frame;
        INT32 width, height;
    };
    const Bad bad[] = {
        {"short", size - 1, bytes, f.width, f.height},
        {"no bytes", 0, bytes, f.width, f.height},
        {"zero-sized", size, bytes, 0, 0},
        {"zero width", size, bytes, 0, f.height},
        {"zero height", size, bytes, f.width, 0},
        {"null frame", size, nullptr, f.width, f.height},
        {"negative size", size, bytes, -f.width, f.height},
    };
    for (const Bad& b : bad) {
        std::wstring text = L"?";
        const HRESULT hr = read(reader, b.length, b.frame, b.width, b.height, text);
        ++calls;
        results.emplace_back(b.what, hr == S_OK && text.empty());
    }
    const std::vector<BYTE> blank(320 * 240, 255);
    std::wstring text = L"?";
    const HRESULT blankHr = read(reader, static_cast<UINT32>(blank.size()), blank.data(), 320, 240, text);
    ++calls;
    results.emplace_back("blank", blankHr == S_OK && text.empty());
    const std::string out = capture.finish();

    for (const auto& [what, ok] : results) CHECK_AT(ok, what);
    std::string announced;
    if (d.announcesCalls) {
        for (int i = 0; i < calls; ++i) announced += "readAztecCamera";
    }
    CHECK_AT(out == announced, "stdout was \"" + out.substr(0, 60) + "\"");

    // Agile: another thread may use the same reader.
    if (!all.empty()) {
        ThreadRead job{reader, &all[1 % all.size()], E_FAIL, {}};
        StdoutCapture quiet;  // the 8.1 builds' announcement is checked above
        HANDLE thread = CreateThread(nullptr, 0, readOnThread, &job, 0, nullptr);
        if (CHECK(thread != nullptr)) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        quiet.finish();
        CHECK(job.hr == S_OK && job.text == widenBytes(job.sample->expected));
    }
    CHECK(reader->readAztecCamera(size, bytes, f.width, f.height, nullptr) == E_POINTER);
}

void testComponent(const std::wstring& dllPath, const Deliverable& d, const std::string& samples) {
    HMODULE dll = LoadLibraryW(dllPath.c_str());
    if (!CHECK_AT(dll != nullptr, "LoadLibraryW error " + std::to_string(GetLastError()))) return;
    Exports lib;
    lib.getFactory = reinterpret_cast<qp::DllGetActivationFactoryFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, qp::kGetActivationFactoryExport)));
    lib.canUnloadNow = reinterpret_cast<qp::DllCanUnloadNowFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, qp::kCanUnloadNowExport)));
    if (!CHECK(lib.getFactory != nullptr && lib.canUnloadNow != nullptr)) return;
    CHECK(lib.canUnloadNow() == S_OK);
    CHECK((exportedNames(dll) == std::vector<std::string>{"DllCanUnloadNow", "DllGetActivationFactory"}));
    for (const std::string& name : importedDlls(dll)) CHECK_AT(isSystemDll(name), name);

    // Wrong class names: no factory, and the out pointer is cleared.
    std::vector<std::wstring> wrong = {L"", L"AztecReader", std::wstring(d.readerClass) + L"X",
                                       d.factoryClass, std::wstring(d.readerClass) + std::wstring(1, L'\0')};
    for (const Deliverable& other : kDeliverables) {
        if (&other != &d) wrong.push_back(other.readerClass);
    }
    for (const std::wstring& name : wrong) {
        IActivationFactory* none = reinterpret_cast<IActivationFactory*>(&wrong);
        CHECK_AT(lib.factory(name, &none) == CLASS_E_CLASSNOTAVAILABLE && none == nullptr, narrow(name));
    }
    CHECK(lib.factory(d.readerClass, nullptr) == E_POINTER);

    Ref<IActivationFactory> factory;
    if (!CHECK(lib.factory(d.readerClass, factory.put()) == S_OK && factory.get() != nullptr)) return;
    checkInspectable(factory.get(), d.factoryClass, qp::IID_IActivationFactory);
    CHECK(lib.canUnloadNow() == S_FALSE);

    Ref<IInspectable> instance;
    if (!CHECK(factory->ActivateInstance(instance.put()) == S_OK && instance.get() != nullptr)) return;
    checkInspectable(instance.get(), d.readerClass, d.readerIid);

    Ref<qp::IAztecReader> reader;
    if (!CHECK(instance->QueryInterface(d.readerIid, reader.putVoid()) == S_OK)) return;
    Ref<IUnknown> agile;
    CHECK(instance->QueryInterface(qp::IID_IAgileObject, agile.putVoid()) == S_OK);
    for (const Deliverable& other : kDeliverables) {
        if (other.readerIid == d.readerIid) continue;
        Ref<IUnknown> none;
        CHECK(instance->QueryInterface(other.readerIid, none.putVoid()) == E_NOINTERFACE && none.get() == nullptr);
    }

    // A weak reference resolves to the same object while it lives.
    Ref<qp::IWeakReferenceSource> source;
    Ref<qp::IWeakReference> weak;
    CHECK(instance->QueryInterface(qp::IID_IWeakReferenceSource, source.putVoid()) == S_OK);
    if (source.get() != nullptr) CHECK(source->GetWeakReference(weak.put()) == S_OK && weak.get() != nullptr);
    if (weak.get() != nullptr) {
        Ref<IInspectable> resolved;
        CHECK(weak->Resolve(d.readerIid, resolved.put()) == S_OK &&
              static_cast<void*>(resolved.get()) == static_cast<void*>(reader.get()));
    }

    testReads(reader.get(), d, samples);

    source.reset();
    agile.reset();
    reader.reset();
    instance.reset();
    factory.reset();
    // The weak reference is still held, so its code must stay loaded; it
    // resolves to nothing now.
    CHECK(lib.canUnloadNow() == S_FALSE);
    if (weak.get() != nullptr) {
        Ref<IInspectable> resolved;
        IInspectable** slot = resolved.put();
        *slot = reinterpret_cast<IInspectable*>(&weak);
        CHECK(weak->Resolve(d.readerIid, slot) == S_OK && *slot == nullptr);
    }
    weak.reset();
    CHECK(lib.canUnloadNow() == S_OK);
    CHECK(FreeLibrary(dll));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::printf("usage: component_dll_test <dll> <namespace> <samples folder>\n");
        return 2;
    }
    const std::string ns = narrow(argv[2]);
    const Deliverable* d = nullptr;
    for (const Deliverable& candidate : kDeliverables) {
        if (ns == candidate.ns) d = &candidate;
    }
    if (d == nullptr) {
        std::printf("unknown namespace %s\n", ns.c_str());
        return 2;
    }
    const HRESULT init = RoInitialize(RO_INIT_MULTITHREADED);
    CHECK(SUCCEEDED(init));
    testComponent(argv[1], *d, narrow(argv[3]));
    if (SUCCEEDED(init)) RoUninitialize();
    std::printf("%s: %d passed, %d failed\n", ns.c_str(), passed, failedChecks);
    return failedChecks == 0 ? 0 : 1;
}
