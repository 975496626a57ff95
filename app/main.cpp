#include <QApplication>

#include "app/BuildProfile.h"
#include "app/Form1.h"

int main(int argc, char** argv)
{
#if defined(VEXLO_PROGRAM_TAMRIX)
    const BuildProfile& profile = kTamrixProfile;
#elif defined(VEXLO_PROGRAM_VEXLO)
    const BuildProfile& profile = kVexloProfile;
#else
    const BuildProfile& profile = kVexloDemoProfile;
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(profile.programName));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    Form1 window(profile);
    window.show();
    return app.exec();
}
