// Entry point of Corvane: one window, run until the user closes it.
#include "application.h"
#include "main.h"

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    TForm1 form;
    form.show();
    return application.exec();
}
