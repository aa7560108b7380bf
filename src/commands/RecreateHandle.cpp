#include <boost/shared_ptr.hpp>

#include <GridApi/HandleCommands.h>

namespace GridApi {

bool recreateHandle(FileServicesHandle& handle) {
    if (!handle.hasRecreationInfo()) return false;
    HandleRecreationInfo info = handle.getHandleRecreationInfo();
    const boost::shared_ptr<StravoStorageApi::FileServicesIf> services = handle.api();
    if (!services) return false;

    // A failed close does not stop the re-creation: the handle is given up either way, and after a
    // close whose answer was lost it is gone already, so stopping here would never re-create it.
    services->CloseHandle(handle);

    FileServicesHandle templateFile;
    templateFile = info.templateFile;
    // OPEN_ALWAYS in place of the recorded disposition: what was written stays.
    FileServicesHandle fresh =
        services->CreateFileA(info.fileName.c_str(), info.desiredAccess, info.shareMode, &info.securityAttributes,
                              OPEN_ALWAYS, info.flagsAndAttributes, templateFile);
    if (static_cast<void*>(fresh) != INVALID_HANDLE_VALUE) {
        LONG high = info.currFilePointerHigh;
        // A kept position whose low part is all ones answers INVALID_SET_FILE_POINTER with NO_ERROR.
        if (services->SetFilePointer(fresh, info.currFilePointerLow, &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
            ::GetLastError() == NO_ERROR) {
            handle = fresh;
            return true;
        }
        services->CloseHandle(fresh);
    }
    // Lost: no raw handle, but everything a later re-creation needs.
    handle = FileServicesHandle(services, info, nullptr);
    return false;
}

}  // namespace GridApi
