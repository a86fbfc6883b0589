#include "directory_server.h"

#include <vector>

#include "directory_answer.h"
#include "folders.h"
#include "private_profile.h"
#include "texts.h"

QString DirectoryServerIn(const std::string& settingsFile)
{
    std::vector<char> value(2048);
    GetPrivateProfileStringA(kDirectorySection, "Server", "", value.data(),
                             static_cast<DWORD>(value.size()), settingsFile.c_str());
    QString server = Shown(value.data()).trimmed();
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    if (!IsWebAddress(server)) return QString::fromLatin1(kDefaultDirectoryServer);
    return server;
}

QString DirectoryServer()
{
    return DirectoryServerIn(Folders().settingsFile);
}
