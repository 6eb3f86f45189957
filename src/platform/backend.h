// The operations every platform backend (posix/, win32/) implements. The public functions of
// the platform headers (file_system.h, registry.h, services.h, process.h, environment.h,
// computer.h, drives.h, log_file.h) are defined once, in the dispatch layer (dispatch_*.cc):
// each counts itself at the fault seam (fault_injection.h), applies the fault plan and then
// calls the function of the same name here. Backends therefore carry no fault code of their
// own, and a backend function is never called by library code directly.
//
// Every function has the contract of the public function of the same name (see its header),
// with these differences for streams: a stream is a FileStream::Native* owned by the caller
// until StreamClose/StreamDiscard frees it, and the FileStream wrapper is built by the
// dispatch layer.
//
// Functions that are not part of the seam (message modules, the machine root, the last error,
// the code page) stay in their own headers and are implemented by each backend directly.
#ifndef QZ7_PLATFORM_BACKEND_H_
#define QZ7_PLATFORM_BACKEND_H_

#include <cstddef>
#include <cstdint>

#include "platform/file_system.h"
#include "platform/log_file.h"
#include "platform/network_shares.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace qz7::platform::backend {

// ---- Streams -------------------------------------------------------------------------------
// fopen with the modes of OpenFile: null on failure, last error set.
FileStream::Native* OpenFile(const char* path, const char* mode);
size_t StreamRead(FileStream::Native* stream, void* buffer, size_t size);
size_t StreamWrite(FileStream::Native* stream, const void* data, size_t size);
char* StreamGetLine(FileStream::Native* stream, char* buffer, int size);
int StreamSeek(FileStream::Native* stream, int64_t offset, int origin);
int64_t StreamTell(FileStream::Native* stream);
int StreamFlush(FileStream::Native* stream);
// Flush, then make the file's data durable (fsync / FlushFileBuffers): 0 or -1.
int StreamSync(FileStream::Native* stream);
bool StreamAtEnd(const FileStream::Native* stream);
bool StreamHasError(const FileStream::Native* stream);
// Sets the stream's error indicator (an injected failure of one of its operations).
void StreamSetError(FileStream::Native* stream);
// fclose: writes what is buffered, closes and frees the stream. 0 or -1 (last error set);
// the stream is freed in either case.
int StreamClose(FileStream::Native* stream);
// Closes and frees the stream without writing what is still buffered; keeps the last error.
void StreamDiscard(FileStream::Native* stream);

// ---- Files and folders ---------------------------------------------------------------------
int RemoveFile(const char* path);
int RenameFile(const char* from, const char* to);
int ReplaceFile(const char* from, const char* to);
int MakeDirectory(const char* path);
int RemoveDirectory(const char* path);
int GetFileStatus(const char* path, FileStatus* status);
int SetFileWritable(const char* path, bool writable);
char* FullPath(char* out, const char* path, size_t size);
int GetCurrentDirectoryText(char* out, size_t size);
int SetCurrentDirectoryText(const char* path);
FindHandle FindFirst(const char* pattern, FindData* data);
int FindNext(FindHandle handle, FindData* data);
int FindClose(FindHandle handle);
bool CopyFileA(const char* existingFile, const char* newFile, bool failIfExists);
// A copy between two folders (FolderCopy): null with the last error set when a folder cannot
// be opened. CopyFileBetween copies the file named name, whose full paths are fromPath and
// toPath, with the contract of CopyFileA(fromPath, toPath, false); CloseFolderCopy frees it.
FolderCopy::Native* OpenFolderCopy(const char* from, const char* to, bool fresh);
bool CopyFileBetween(FolderCopy::Native* copy, const char* name, const char* fromPath,
                     const char* toPath);
void NoteMadeInFolderCopy(FolderCopy::Native* copy, const char* name);
void CloseFolderCopy(FolderCopy::Native* copy);
// Makes the folder's entries (creations, renames, removals in it) durable: 0 or -1.
int SyncDirectory(const char* path);
// Makes every file and folder of the machine durable: 0 or -1.
int SyncFileSystem();

// ---- Registry ------------------------------------------------------------------------------
RegKey LocalMachineKey();
long RegOpenKeyExA(RegKey parent, const char* subKey, uint32_t options, uint32_t access,
                   RegKey* result);
long RegCreateKeyExA(RegKey parent, const char* subKey, RegKey* result);
long RegCloseKey(RegKey key);
long RegEnumKeyExA(RegKey key, uint32_t index, char* name, uint32_t* nameLength);
long RegEnumValueA(RegKey key, uint32_t index, char* name, uint32_t* nameLength);
long RegQueryValueExA(RegKey key, const char* valueName, uint32_t* type, unsigned char* data,
                      uint32_t* dataSize);
long RegSetValueExA(RegKey key, const char* valueName, uint32_t type, const unsigned char* data,
                    uint32_t dataSize);
long RegDeleteValueA(RegKey key, const char* valueName);
long RegDeleteTreeA(RegKey parent, const char* subKey);

// ---- Services ------------------------------------------------------------------------------
ScHandle OpenSCManagerA(const char* machineName, const char* databaseName, uint32_t access);
ScHandle OpenServiceA(ScHandle manager, const char* serviceName, uint32_t access);
ScHandle CreateServiceA(ScHandle manager, const char* serviceName, const char* displayName,
                        const char* binaryPathName, const char* serviceStartName,
                        const char* password);
bool DeleteService(ScHandle service);
bool ChangeServiceConfigA(ScHandle service, const char* binaryPathName,
                          const char* serviceStartName, const char* password,
                          const char* displayName);
bool QueryServiceConfigA(ScHandle service, QueryServiceConfig* config, uint32_t bufferSize,
                         uint32_t* bytesNeeded);
bool QueryServiceStatus(ScHandle service, uint32_t* currentState);
bool CloseServiceHandle(ScHandle handle);

// ---- Network shares ------------------------------------------------------------------------
uint32_t NetShareAdd(const char* shareName, const char* path);
uint32_t NetShareDel(const char* shareName);
uint32_t NetShareGetInfo(const char* shareName, std::string* path);
uint32_t NetShareEnum(std::vector<std::string>* names);

// ---- Processes and pipes -------------------------------------------------------------------
bool CreatePipe(PipeHandle* readEnd, PipeHandle* writeEnd);
bool CreateProcessA(const char* applicationName, const char* commandLine,
                    const char* currentDirectory, const StartupInfo& startup,
                    ProcessHandle* process);
uint32_t WaitForSingleObject(ProcessHandle process, uint32_t milliseconds);
bool GetExitCodeProcess(ProcessHandle process, uint32_t* exitCode);
bool ReadFile(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* bytesRead);
bool WriteFile(PipeHandle pipe, const void* data, uint32_t size, uint32_t* bytesWritten);
bool ClosePipeHandle(PipeHandle pipe);
bool CloseProcessHandle(ProcessHandle process);

// ---- Environment, computer, drives ---------------------------------------------------------
bool SetEnvironmentVariableA(const char* name, const char* value);
uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size);
bool GetComputerNameA(char* buffer, uint32_t* size);
uint32_t ProcessorCount();
uint32_t GetLogicalDriveStringsA(uint32_t bufferLength, char* buffer);
uint32_t GetDriveTypeA(const char* rootPath);

// ---- The caller's log file descriptor ------------------------------------------------------
int64_t SeekToEnd(LogHandle fd);
bool LockFileRange(LogHandle fd, int64_t offset, int64_t length);
bool UnlockFileRange(LogHandle fd, int64_t offset, int64_t length);
bool WriteToDescriptor(LogHandle fd, const void* data, uint32_t size, uint32_t* written);

}  // namespace qz7::platform::backend

#endif  // QZ7_PLATFORM_BACKEND_H_
