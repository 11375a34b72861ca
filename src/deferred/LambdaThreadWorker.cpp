#include "LambdaThreadWorker.h"

#include "LambdaThreadWorkerData.h"

LambdaThreadWorker::LambdaThreadWorker()
    : d(new LambdaThreadWorkerData)
{
}

LambdaThreadWorker::LambdaThreadWorker(const LambdaThreadWorker& other) = default;
LambdaThreadWorker& LambdaThreadWorker::operator=(const LambdaThreadWorker& other) = default;
LambdaThreadWorker::~LambdaThreadWorker() = default;

bool LambdaThreadWorker::execInThread(const std::function<void()>& function, const Qt::EventPriority& priority)
{
    return d->execInThread(function, priority);
}

int LambdaThreadWorker::startLoopInThread(const std::function<void()>& function, const unsigned int& interval)
{
    return d->startLoopInThread(function, interval);
}

Deferred<> LambdaThreadWorker::stopLoopInThread(const int& loopId)
{
    return d->stopLoopInThread(loopId);
}

Deferred<> LambdaThreadWorker::stopAllLoopsInThread()
{
    return d->stopAllLoopsInThread();
}

Deferred<> LambdaThreadWorker::quitThread()
{
    return d->quitThread();
}

bool LambdaThreadWorker::moveQObjectToThread(QObject* object)
{
    return d->moveQObjectToThread(object);
}

QThread* LambdaThreadWorker::getThread() const
{
    return d->getThread();
}

QString LambdaThreadWorker::getThreadId() const
{
    return d->getThreadId();
}
