#include "console/app/ui/SharingWindows.h"

#include "console/app/ui/FindPrinterController.h"
#include "console/app/ui/FindUserController.h"
#include "console/app/ui/PermissionsController.h"
#include "console/app/ui/PrinterPropertiesController.h"
#include "console/app/ui/SetupRemoteController.h"

namespace velmora::console {

namespace {

void bringForward(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

SharingWindows::SharingWindows(Collaborators with, Delegate delegate)
    : with_(with), delegate_(std::move(delegate)) {}

SharingWindows::~SharingWindows() = default;

void SharingWindows::printerProperties(const std::string& localTitle) {
    if (!properties_) {
        properties_ = std::make_unique<PrinterPropertiesController>(
            with_.localPrinters, with_.translation, [this](const std::string& title) {
                if (delegate_.printerPropertiesControllerOk)
                    delegate_.printerPropertiesControllerOk(title);
            });
    }
    properties_->setPrinter(localTitle);
    if (properties_->initDialog())
        bringForward(*properties_);
}

void SharingWindows::setupRemotePrinter(const std::string& publicId) {
    if (!setupRemote_) {
        SetupRemoteController::Delegate delegate{[this] {
                                                     if (delegate_.setupRemoteController_Ok)
                                                         delegate_.setupRemoteController_Ok();
                                                 },
                                                 [this] {
                                                     if (delegate_.reloadData)
                                                         delegate_.reloadData();
                                                 }};
        setupRemote_ = std::make_unique<SetupRemoteController>(
            SetupRemoteController::Collaborators{with_.config, with_.inetProvider,
                                                 with_.remotePrinters, with_.virtualPrinter,
                                                 with_.translation},
            std::move(delegate));
    }
    setupRemote_->setPrinter(publicId);
    if (setupRemote_->initDialog())
        bringForward(*setupRemote_);
}

void SharingWindows::findPrinter() {
    if (!findPrinter_) {
        findPrinter_ =
            std::make_unique<FindPrinterController>(with_.inetProvider, with_.translation, [this] {
                if (delegate_.reloadData)
                    delegate_.reloadData();
            });
    }
    bringForward(*findPrinter_);
}

void SharingWindows::showPermissions() {
    if (!permissions_) {
        permissions_ = std::make_unique<PermissionsController>(PermissionsController::Collaborators{
            with_.inetProvider, with_.permissions, with_.processor, with_.translation});
    } else {
        permissions_->initDialog();
    }
    bringForward(*permissions_);
}

void SharingWindows::addPermissionForPerson(const Person& person) {
    showPermissions();
    permissions_->addPermissionForPerson(person);
}

void SharingWindows::listsChanged() {
    if (properties_)
        properties_->listsChanged();
    if (setupRemote_)
        setupRemote_->listsChanged();
    if (permissions_ && permissions_->isVisible())
        permissions_->initDialog();
}

void SharingWindows::closeAll() {
    for (QWidget* window : std::initializer_list<QWidget*>{
             properties_.get(), setupRemote_.get(), findPrinter_.get(), permissions_.get()}) {
        if (window != nullptr)
            window->close();
    }
    if (permissions_ && permissions_->findUserController() != nullptr)
        permissions_->findUserController()->close();
}

}  // namespace velmora::console
