#pragma once

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/JobTableModel.h"

namespace velmora::console {

class ConsoleInetProvider;
class JobArray;
class Translation;

// The sheet that asks for the password of a job whose key only its sender and the user know.
// It names its job by id and looks it up again when the user confirms: the job may have left
// the list meanwhile. It ends with 1 when the job's key is set, 0 otherwise.
class JobPasswordController : public QDialog {
    Q_OBJECT

  public:
    JobPasswordController(const Job& job, JobArray& jobs, ConsoleInetProvider& inetProvider,
                          const Translation& translation, QWidget* parent = nullptr);

    void translate();
    void btnOk_Clicked();
    void btnCancel_Clicked();

    const JobTableModel::JobKey& job() const { return job_; }
    // The open alert, or null.
    QMessageBox* alertBox() const { return alert_.box(); }

    QGridLayout layout;
    QLabel lPassword;
    QLineEdit ePassword;
    QPushButton btnOk;
    QPushButton btnCancel;

  private:
    JobTableModel::JobKey job_;
    JobArray& jobs_;
    ConsoleInetProvider& inetProvider_;
    const Translation& translation_;
    AlertSheet alert_;
};

}  // namespace velmora::console
