#include "console/app/ui/ProfileController.h"

#include "console/app/ui/EmailAddressRule.h"
#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/Person.h"

namespace velmora::console {

ProfileController::ProfileController(Person& currentUser, ConsoleInetProvider& inetProvider,
                                     const Translation& translation, std::function<void()> delegate,
                                     QWidget* parent)
    : QDialog(parent),
      currentUser_(currentUser),
      inetProvider_(inetProvider),
      translation_(translation),
      delegate_(std::move(delegate)),
      alert_(*this) {
    setObjectName(QStringLiteral("Profile"));
    usePlainText({&lUserId, &lUserIdLabel, &lNickLabel, &lNameLabel, &lEmailLabel, &lPhoneLabel,
                  &lAddressLabel, &lCityStateZipLabel, &lCountryLabel});
    for (int index = 0; index < Person::kPropertyCount; ++index) {
        if (QLineEdit* edit = field(index)) {
            limits_[index] = std::make_unique<MaxLenFormatter>(kMaxLengths[index]);
            edit->setValidator(limits_[index].get());
            connect(edit, &QLineEdit::returnPressed, this, &ProfileController::btnOk_Clicked);
        }
    }
    // The label in lNameLabel stands beside the e-mail field, the one in lEmailLabel beside
    // the name: each is named after the text it gets.
    const std::array<std::pair<QLabel*, QWidget*>, 6> rows = {{{&lUserIdLabel, &lUserId},
                                                               {&lNickLabel, &eNick},
                                                               {&lNameLabel, &eEmail},
                                                               {&lEmailLabel, &eName},
                                                               {&lPhoneLabel, &ePhone},
                                                               {&lAddressLabel, &eAddress}}};
    int row = 0;
    for (const auto& [label, control] : rows) {
        layout.addWidget(label, row, 0);
        layout.addWidget(control, row++, 1, 1, 3);
    }
    layout.addWidget(&lCityStateZipLabel, row, 0);
    layout.addWidget(&eCity, row, 1);
    layout.addWidget(&eState, row, 2);
    layout.addWidget(&eZip, row++, 3);
    layout.addWidget(&lCountryLabel, row, 0);
    layout.addWidget(&eCountry, row++, 1, 1, 3);
    layout.addWidget(&btnCancel, row, 2);
    layout.addWidget(&btnOk, row, 3);
    setLayout(&layout);
    btnOk.setDefault(true);
    connect(&btnOk, &QPushButton::clicked, this, &ProfileController::btnOk_Clicked);
    connect(&btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    translate();
    initDialog();
}

QLineEdit* ProfileController::field(int index) {
    const std::array<QLineEdit*, 10> fields = {&eEmail,   nullptr, &eNick,  &eName,    &ePhone,
                                               &eCountry, &eCity,  &eState, &eAddress, &eZip};
    return index >= 0 && index < Person::kPropertyCount ? fields[index] : nullptr;
}

void ProfileController::translate() {
    setWindowTitle(QStringLiteral("Profile"));
    lUserIdLabel.setText(QStringLiteral("User ID:"));
    lNickLabel.setText(QStringLiteral("Nick:"));
    lNameLabel.setText(QStringLiteral("E-mail:"));
    lEmailLabel.setText(QStringLiteral("Name:"));
    lPhoneLabel.setText(QStringLiteral("Phone:"));
    lAddressLabel.setText(QStringLiteral("Address:"));
    lCityStateZipLabel.setText(QStringLiteral("City, state, zip:"));
    lCountryLabel.setText(QStringLiteral("Country:"));
    btnOk.setText(QStringLiteral("OK"));
    btnCancel.setText(QStringLiteral("Cancel"));
    translation_.group({{this, "Caption"},
                        {&lUserIdLabel, "UserID"},
                        {&lNickLabel, "Nick"},
                        {&lNameLabel, "Mail"},
                        {&lEmailLabel, "Name"},
                        {&lPhoneLabel, "Phone"},
                        {&lAddressLabel, "Address"},
                        {&lCityStateZipLabel, "Address2"},
                        {&lCountryLabel, "Country"}},
                       "EditProfileDlg");
    translation_.group({{&btnOk, "OK"}, {&btnCancel, "Cancel"}}, "Common");
}

void ProfileController::initDialog() {
    for (int index = 0; index < Person::kPropertyCount; ++index) {
        const QString value = QString::fromStdString(currentUser_.getProperty(index));
        if (QLineEdit* edit = field(index))
            edit->setText(value);  // as stored, even beyond the limit: nothing is cut unasked
        else
            lUserId.setText(value);
    }
}

void ProfileController::btnOk_Clicked() {
    const QString okText = translation_.qtext("Common", "OK", "OK");
    if (!EmailAddressRule::isValid(eEmail.text())) {
        alert_.show(QStringLiteral("Invalid email address"), QString(), okText);
        return;
    }
    for (int index = 0; index < Person::kPropertyCount; ++index) {
        const QString value = field(index) ? field(index)->text() : lUserId.text();
        currentUser_.setProperty(index, value.toStdString());
    }
    std::string error;
    if (!inetProvider_.updateProfile(error)) {
        alert_.show(QString::fromStdString(error), QString(), okText);
        return;
    }
    accept();
    if (delegate_)
        delegate_();
}

}  // namespace velmora::console
