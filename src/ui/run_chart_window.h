// The live run chart: a second window beside the console that shows the current dispense run's
// answer time per cycle (write to answer) and the running reject rate, updated as each cycle
// ends. It listens to the console's run events and is opened with Ctrl+G or from the window's
// context menu; the console's own window keeps its look.
#pragma once

#include <QWidget>

#include <cstdint>

#include "console/run_events.h"

class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace kalvor {

class RunChartWindow final : public QWidget, public RunObserver {
    Q_OBJECT

public:
    explicit RunChartWindow(QWidget* parent = nullptr);
    ~RunChartWindow() override;

    // Ctrl+G and the console's menu: hides the chart when it can be seen, otherwise shows it in
    // front. It cannot be seen when it is hidden, minimized, or lies behind `console` (the
    // console is the active window and the two overlap).
    void Toggle(const QWidget* console);
    bool InSight(const QWidget* console) const;
    // What the console's menu says Toggle would do: "Show run chart" or "Hide run chart".
    QString ToggleText(const QWidget* console) const;

    // RunObserver
    void OnRunStarted(const RunTime& t, unsigned repeatCount) override;
    void OnCycleWritten(const RunTime& t, const CycleRequest& request) override;
    void OnCycleAnswered(const RunTime& t, const CycleAnswer& answer) override;
    void OnCycleFailed(const RunTime& t, CycleEnd how) override;
    void OnRunEnded(const RunTime& t, RunEnd how) override;
    void OnLinkEvent(const RunTime& t, LinkEvent event) override;

    // What the window shows, for the tests.
    QLineSeries* AnswerSeries() const { return m_answers; }
    QScatterSeries* ResentSeries() const { return m_resent; }
    QScatterSeries* FailedSeries() const { return m_failed; }
    QLineSeries* RejectRateSeries() const { return m_rejectRate; }
    QValueAxis* AnswerAxis() const { return m_msAxis; }
    QValueAxis* CycleAxis() const { return m_cycleAxis; }
    QString Status() const;

private:
    void UpdateStatus();
    void FitAxes();

    QChartView* m_view = nullptr;
    QChart* m_chart = nullptr;
    QLineSeries* m_answers = nullptr;
    QScatterSeries* m_resent = nullptr;
    QScatterSeries* m_failed = nullptr;
    QLineSeries* m_rejectRate = nullptr;
    QValueAxis* m_cycleAxis = nullptr;
    QValueAxis* m_msAxis = nullptr;
    QValueAxis* m_rateAxis = nullptr;
    QLabel* m_status = nullptr;

    // The current run.
    unsigned m_run = 0;
    unsigned m_repeat = 0;
    bool m_running = false;
    QString m_ended;
    unsigned m_cycle = 0;         // the cycle in flight (its index in the run)
    int64_t m_writtenUs = -1;
    bool m_cycleResent = false;
    unsigned m_cyclesEnded = 0;
    unsigned m_failures = 0;
    uint64_t m_dispensed = 0;
    uint64_t m_rejected = 0;
    double m_maxMs = 0;
    double m_lastMs = -1;
};

}  // namespace kalvor
