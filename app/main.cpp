// korva-upgrader: the update log first (it opens its file at once), then the
// application; the log closes last, after everything else has written to it.
#include "app/UpdateApplication.h"
#include "base/UpdateLogFile.h"

int main(int argc, char** argv) {
    CUpdateLogFile log;
    CUpdateLogFile::SetCurrent(&log);
    {
        CUpdateApplication app(argc, argv);
        app.InitInstance();
    }
    CUpdateLogFile::SetCurrent(nullptr);
    return 0;
}
