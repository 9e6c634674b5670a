#pragma once

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <functional>
#include <memory>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/MaxLenFormatter.h"

namespace velmora {
class Person;
}

namespace velmora::console {

class ConsoleInetProvider;
class Translation;

// Edits the signed-in user's profile and sends it to the service; the delegate hears of a
// successful update. A refused update leaves the window open with the service's reason.
class ProfileController : public QDialog {
    Q_OBJECT

  public:
    ProfileController(Person& currentUser, ConsoleInetProvider& inetProvider,
                      const Translation& translation, std::function<void()> delegate,
                      QWidget* parent = nullptr);

    // Control i shows profile property i.
    void initDialog();
    void btnOk_Clicked();

    QGridLayout layout;
    QLineEdit eEmail;
    QLabel lUserId;
    QLineEdit eNick;
    QLineEdit eName;
    QLineEdit ePhone;
    QLineEdit eCountry;
    QLineEdit eCity;
    QLineEdit eState;
    QLineEdit eAddress;
    QLineEdit eZip;
    QLabel lUserIdLabel;
    QLabel lNickLabel;
    QLabel lNameLabel;
    QLabel lEmailLabel;
    QLabel lPhoneLabel;
    QLabel lAddressLabel;
    QLabel lCityStateZipLabel;
    QLabel lCountryLabel;
    QPushButton btnOk;
    QPushButton btnCancel;

    AlertSheet& alert() { return alert_; }
    // The edit field of a profile property, or null for the read-only login.
    QLineEdit* field(int index);

    // Per profile property; 0 for the read-only login.
    static constexpr std::array<int, 10> kMaxLengths = {64, 0, 50, 256, 50, 50, 256, 50, 512, 10};

  private:
    void translate();

    Person& currentUser_;
    ConsoleInetProvider& inetProvider_;
    const Translation& translation_;
    std::function<void()> delegate_;
    std::array<std::unique_ptr<MaxLenFormatter>, 10> limits_;
    AlertSheet alert_;
};

}  // namespace velmora::console
