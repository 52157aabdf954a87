#include "cleaner/mechanisms/open_file_delete.h"

namespace cleaner {

DWORD delete_open_file(HANDLE file)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)))
        return ::GetLastError();
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition))
               ? 0
               : ::GetLastError();
}

} // namespace cleaner
