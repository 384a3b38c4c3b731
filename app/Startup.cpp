#include "app/Startup.h"

#include "app/Main.h"
#include "dialogs/Aboutswform.h"
#include "dialogs/Cominterfaceform.h"
#include "platform/toolkit/Application.h"

#include <exception>
#include <memory>

void createForms()
{
    Form1 = new TForm1();
    Form19 = new TForm19();
    Form23 = new TForm23();
}

void destroyForms()
{
    delete Form23;
    delete Form19;
    delete Form1;
    Form23 = nullptr;
    Form19 = nullptr;
    Form1 = nullptr;
}

int runApplication(int argc, char** argv)
{
    std::unique_ptr<platform::Application> application;
    try {
        application = std::make_unique<platform::Application>(argc, argv);
        createForms();
        Form1->show();
        application->exec();
    } catch (const std::exception& error) {
        platform::showException(&error);
    } catch (...) {
        platform::showException(nullptr);
    }
    destroyForms();
    return 0;
}
