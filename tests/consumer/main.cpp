// A GridApi user's program: takes the file-services object from the factory as the server does and
// makes, checks and removes a directory on a share through it.
//   grid-consumer '\\server\share\dir'
#include <cstdio>

#include <boost/shared_ptr.hpp>

#include <GridApi/GridFileServices.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: grid-consumer <UNC directory>\n");
        return 2;
    }
    const char* dir = argv[1];
    const boost::shared_ptr<StravoStorageApi::FileServicesIf> services(createFileServices());
    if (!services) return 1;
    const bool made = services->CreateDirectoryA(dir, nullptr) != 0;
    const bool isDirectory = made && services->PathIsDirectoryA(dir) != 0;
    const bool removed = made && services->RemoveDirectoryA(dir, 0) != 0;
    const bool gone = removed && services->PathFileExistsA(dir) == 0;
    std::printf("GridApi %s: %s created %d, directory %d, removed %d, gone %d\n", GRIDAPI_PACKAGE_VERSION, dir, made,
                isDirectory, removed, gone);
    return made && isDirectory && removed && gone ? 0 : 1;
}
