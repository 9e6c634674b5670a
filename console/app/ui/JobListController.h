#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <vector>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/DeleteLater.h"
#include "console/app/ui/JobFilterController.h"
#include "console/app/ui/JobPasswordController.h"
#include "console/app/ui/JobTableModel.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/Processor.h"

namespace velmora {
class Person;
}

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class LocalPrinterArray;
class Translation;

// The incoming jobs, newest first: print them (with or without the print panel), reject them,
// give a sender a permission, poll the service at once, choose the states shown, and type the
// password of a job whose key only its sender and the user know. Everything acts on jobs named
// by id and looked up again at the moment of acting.
class JobListController : public QDialog, public JobArrayDelegate, public ProcessorDelegate {
    Q_OBJECT

  public:
    struct Collaborators {
        JobArray& jobs;
        Processor& processor;
        ConsoleConfig& config;
        ConsoleInetProvider& inetProvider;
        const LocalPrinterArray& localPrinters;
        const Translation& translation;
    };
    // What the main controller does for the window.
    struct Delegate {
        std::function<void(const Person& sender)> jobListController_AddSender;
        std::function<void()> jobListController_CheckNow;
    };

    JobListController(Collaborators with, Delegate delegate, QWidget* parent = nullptr);
    ~JobListController() override;

    void translate();
    void reloadData();
    void jobFilterController_Changed() { reloadData(); }
    void jobArray_Changed(int added) override;
    void processor_ChangedJob(const Job& job) override;

    void print(Job& job, bool dialog);
    void sheetDidEnd(int returnCode);
    void reject(Job& job);
    void addSender();
    void printFromButton(bool dialog);

    void btnPrint_Clicked() { printFromButton(false); }
    void btnPrintDialog_Clicked() { printFromButton(true); }
    void btnReject_Clicked();
    void btnFilter_Clicked();
    void btnCheckNow_Clicked();
    void btnAddSender_Clicked() { addSender(); }

    const JobTableModel& model() const { return model_; }
    // The open password sheet, or null.
    JobPasswordController* passwordSheet() const { return jobPasswordController_.get(); }
    JobFilterController* filterWindow() const { return jobFilterController_.get(); }
    QMessageBox* alertBox() const { return alert_.box(); }

    QVBoxLayout layout;
    QTableView tvJobs;
    QLabel lStatus;
    QHBoxLayout buttons;
    QPushButton btnPrint, btnPrintDialog, btnReject, btnAddSender, btnFilter, btnCheckNow;

  private:
    // The selected jobs' ids, in row order.
    std::vector<JobTableModel::JobKey> selectedJobs() const;
    void selectJobs(const std::vector<JobTableModel::JobKey>& keys);
    void selectionChanged();
    // A password sheet whose job has left the list has nothing left to ask.
    void closeOrphanedSheet();

    Collaborators with_;
    Delegate delegate_;
    JobTableModel model_;
    AlertSheet alert_;
    std::unique_ptr<JobFilterController> jobFilterController_;
    LaterPtr<JobPasswordController> jobPasswordController_;
};

}  // namespace velmora::console
