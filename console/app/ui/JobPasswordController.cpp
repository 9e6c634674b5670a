#include "console/app/ui/JobPasswordController.h"

#include <string>

#include "console/app/ui/Translation.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/PageDecoder.h"
#include "console/service/ConsoleInetProvider.h"

namespace velmora::console {

JobPasswordController::JobPasswordController(const Job& job, JobArray& jobs,
                                             ConsoleInetProvider& inetProvider,
                                             const Translation& translation, QWidget* parent)
    : QDialog(parent),
      layout(this),
      job_(JobTableModel::keyOf(job)),
      jobs_(jobs),
      inetProvider_(inetProvider),
      translation_(translation),
      alert_(*this) {
    ePassword.setEchoMode(QLineEdit::Password);
    layout.addWidget(&lPassword, 0, 0);
    layout.addWidget(&ePassword, 0, 1, 1, 2);
    layout.addWidget(&btnCancel, 1, 1);
    layout.addWidget(&btnOk, 1, 2);
    // Return in the password field confirms.
    btnOk.setDefault(true);
    btnCancel.setAutoDefault(false);
    connect(&btnOk, &QPushButton::clicked, this, [this] { btnOk_Clicked(); });
    connect(&btnCancel, &QPushButton::clicked, this, [this] { btnCancel_Clicked(); });
    translate();
}

void JobPasswordController::translate() {
    lPassword.setText(QStringLiteral("Password"));
    btnOk.setText(QStringLiteral("OK"));
    btnCancel.setText(QStringLiteral("Cancel"));
    translation_.group({{&lPassword, "Password"}}, "PasswordDlg");
    translation_.group({{&btnOk, "OK"}, {&btnCancel, "Cancel"}}, "Common");
}

void JobPasswordController::btnOk_Clicked() {
    Job* job = jobs_.findJob(job_.first, job_.second);
    if (job == nullptr) {
        done(0);
        return;
    }
    std::string key;
    std::string error;
    if (!inetProvider_.getKey(key, job_.second, ePassword.text().toStdString(), false, error)) {
        alert_.show(QString::fromStdString(error), QString(),
                    translation_.qtext("Common", "OK", "OK"));
        return;
    }
    // Kept, a key that cannot decrypt would be used for every later attempt, with no sheet again.
    if (!PageDecoder::isUsableKey(key)) {
        alert_.show(QStringLiteral("The job key is not usable."), QString(),
                    translation_.qtext("Common", "OK", "OK"));
        return;
    }
    // The call blocks; a poll may have replaced the list meanwhile.
    job = jobs_.findJob(job_.first, job_.second);
    if (job == nullptr) {
        done(0);
        return;
    }
    job->setEncryptKey(key);
    done(1);
}

void JobPasswordController::btnCancel_Clicked() {
    done(0);
}

}  // namespace velmora::console
