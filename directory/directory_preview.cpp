// The directory window alone, for its picture in the README: searches the
// server it is given for the fields it is given, at the top left of the
// screen. A played station's address goes to standard output.
//
//   directory-preview SERVER [NAME [GENRE [COUNTRY [LANGUAGE]]]]
#include <QApplication>
#include <QLineEdit>
#include <cstdio>

#include "Directory.h"
#include "texts.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fputs("usage: directory-preview SERVER [NAME [GENRE [COUNTRY [LANGUAGE]]]]\n", stderr);
        return 2;
    }
    TFormDirectory form(QString::fromLocal8Bit(argv[1]));
    QLineEdit* fields[] = {form.EditName, form.EditTag, form.EditCountry, form.EditLanguage};
    for (int i = 2; i < argc && i < 6; ++i)
        fields[i - 2]->setText(QString::fromLocal8Bit(argv[i]));
    form.play = [](const std::string& address) {
        std::printf("%s\n", Shown(address).toLocal8Bit().constData());
    };
    form.store = [](int, const std::string&) { return false; };
    form.setAttribute(Qt::WA_QuitOnClose, true);
    form.move(0, 0);
    form.show();
    form.ButtonFindClick();
    return application.exec();
}
