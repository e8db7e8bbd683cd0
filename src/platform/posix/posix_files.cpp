// The directory search over the directory listing. Windows matches names
// without regard to letter case, and so does this.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/platform.h"

static char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// '*' for any run of characters and '?' for one; everything else literal.
static bool matchesPattern(const char *pattern, const char *name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') {
        for (const char *rest = name;; ++rest) {
            if (matchesPattern(pattern + 1, rest)) return true;
            if (*rest == '\0') return false;
        }
    }
    if (*name == '\0') return false;
    if (*pattern != '?' && lowerAscii(*pattern) != lowerAscii(*name)) return false;
    return matchesPattern(pattern + 1, name + 1);
}

// A folder is marked as the Windows search marks it; a link counts as what it
// points to, and one that points nowhere as a file that will not open.
static DWORD attributesOf(const char *name) {
    struct stat status;
    bool folder = stat(name, &status) == 0 && S_ISDIR(status.st_mode);
    return folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

// The search reports only its first match, so the handle carries nothing.
static char searchHandle;

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    DIR *directory = opendir(".");
    if (directory == nullptr) return INVALID_HANDLE_VALUE;
    HANDLE result = INVALID_HANDLE_VALUE;
    while (dirent *entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (std::strlen(entry->d_name) >= MAX_PATH || !matchesPattern(lpFileName, entry->d_name)) continue;
        std::memset(lpFindFileData, 0, sizeof *lpFindFileData);
        std::strcpy(lpFindFileData->cFileName, entry->d_name);
        lpFindFileData->dwFileAttributes = attributesOf(entry->d_name);
        result = &searchHandle;
        break;
    }
    closedir(directory);
    return result;
}

BOOL FindClose(HANDLE) { return 1; }
