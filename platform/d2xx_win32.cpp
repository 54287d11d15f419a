// The eight D2XX calls on Windows: taken from FTDI's FTD2XX.dll, loaded when the first device is
// opened. Without the library, or with one that lacks any of the eight calls, there is no
// device: FT_Open fails and every other call answers FT_INVALID_HANDLE.
#include "platform/d2xx.h"
#include "platform/win32_types.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

// The library's own signatures: WINAPI (stdcall), ULONG statuses and sizes, UCHAR/USHORT settings.
struct D2xxLibrary {
    FT_STATUS(WINAPI* open)(int deviceNumber, FT_HANDLE* handle);
    FT_STATUS(WINAPI* close)(FT_HANDLE handle);
    FT_STATUS(WINAPI* read)
    (FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesReturned);
    FT_STATUS(WINAPI* write)
    (FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten);
    FT_STATUS(WINAPI* setBaudRate)(FT_HANDLE handle, ULONG baudRate);
    FT_STATUS(WINAPI* setDataCharacteristics)
    (FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
    FT_STATUS(WINAPI* setFlowControl)(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff);
    FT_STATUS(WINAPI* setTimeouts)(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs);
};

static_assert(sizeof(DWORD) == sizeof(std::uint32_t) && sizeof(ULONG) == sizeof(FT_STATUS));

constexpr const char* kLibraryName = "FTD2XX.dll";

// Casts a GetProcAddress result to the pointer type of `slot`; false when the name is missing.
template <typename Fn> bool take(HMODULE module, const char* name, Fn& slot) {
    const FARPROC address = GetProcAddress(module, name);
    if (!address)
        return false;
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
    return true;
}

HMODULE loadModule() {
    // The application's folder and the system folders, not the current directory: a stray
    // FTD2XX.dll beside a document the user opened must not be run. Systems without the
    // restricted search order refuse the flag with ERROR_INVALID_PARAMETER.
    HMODULE module = LoadLibraryExA(kLibraryName, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryA(kLibraryName);
    return module;
}

// Null when FTD2XX.dll is missing or incomplete; says why once on standard error (a GUI process
// has nowhere to show it, `orvane.exe` does).
const D2xxLibrary* loadLibrary() {
    static D2xxLibrary library;
    const HMODULE module = loadModule();
    if (!module) {
        std::fprintf(stderr,
                     "%s could not be loaded (error %lu): is FTDI's D2XX driver installed?\n",
                     kLibraryName, static_cast<unsigned long>(GetLastError()));
        return nullptr;
    }
    const char* missing = nullptr;
    const auto need = [&](const char* name, auto& slot) {
        if (!missing && !take(module, name, slot))
            missing = name;
    };
    need("FT_Open", library.open);
    need("FT_Close", library.close);
    need("FT_Read", library.read);
    need("FT_Write", library.write);
    need("FT_SetBaudRate", library.setBaudRate);
    need("FT_SetDataCharacteristics", library.setDataCharacteristics);
    need("FT_SetFlowControl", library.setFlowControl);
    need("FT_SetTimeouts", library.setTimeouts);
    if (missing) {
        std::fprintf(stderr, "%s has no %s: not a D2XX library\n", kLibraryName, missing);
        FreeLibrary(module);
        return nullptr;
    }
    return &library;
}

// Set once, by the first FT_Open; the other calls only read it.
std::once_flag loadOnce;
std::atomic<const D2xxLibrary*> loaded{nullptr};

const D2xxLibrary* libraryForOpen() {
    std::call_once(loadOnce, [] { loaded.store(loadLibrary()); });
    return loaded.load();
}

} // namespace

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
    const D2xxLibrary* library = libraryForOpen();
    if (!library) {
        if (handle)
            *handle = nullptr;
        return FT_DEVICE_NOT_FOUND;
    }
    return library->open(deviceNumber, handle);
}

FT_STATUS FT_Close(FT_HANDLE handle) {
    const D2xxLibrary* library = loaded.load();
    if (!library)
        return FT_INVALID_HANDLE;
    return library->close(handle);
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                  std::uint32_t* bytesReturned) {
    const D2xxLibrary* library = loaded.load();
    if (!library)
        return FT_INVALID_HANDLE;
    // A read that fails at once is paced by the link (FtdiConnection), as on every system.
    return library->read(handle, buffer, bytesToRead, reinterpret_cast<LPDWORD>(bytesReturned));
}

FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                   std::uint32_t* bytesWritten) {
    const D2xxLibrary* library = loaded.load();
    if (!library)
        return FT_INVALID_HANDLE;
    // D2XX declares the buffer without const; it only reads it.
    return library->write(handle, const_cast<void*>(buffer), bytesToWrite,
                          reinterpret_cast<LPDWORD>(bytesWritten));
}

FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) {
    const D2xxLibrary* library = loaded.load();
    return library ? library->setBaudRate(handle, baudRate) : FT_INVALID_HANDLE;
}

FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                    std::uint8_t stopBits, std::uint8_t parity) {
    const D2xxLibrary* library = loaded.load();
    return library ? library->setDataCharacteristics(handle, wordLength, stopBits, parity)
                   : FT_INVALID_HANDLE;
}

FT_STATUS FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flowControl, std::uint8_t xon,
                            std::uint8_t xoff) {
    const D2xxLibrary* library = loaded.load();
    return library ? library->setFlowControl(handle, flowControl, xon, xoff) : FT_INVALID_HANDLE;
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, std::uint32_t readTimeoutMs,
                         std::uint32_t writeTimeoutMs) {
    const D2xxLibrary* library = loaded.load();
    if (!library)
        return FT_INVALID_HANDLE;
    return library->setTimeouts(handle, readTimeoutMs, writeTimeoutMs);
}
