#pragma once
// Deferred<T...>: a shared handle to a result that completes later, settled once
// as resolved or rejected with values T...; callbacks run on the thread that
// registered them. thenAlias chains a further step, when joins a list.

#include "DeferredData.h"

#include <QExplicitlySharedDataPointer>

#include <type_traits>
#include <utility>

namespace deferred_detail {

template<class X> struct Identity
{
    using type = X;
};

template<class F> struct IsStdFunction : std::false_type
{
};
template<class S> struct IsStdFunction<std::function<S>> : std::true_type
{
};

// An empty std::function or a null function pointer would throw or crash when called.
template<class F> bool isEmptyCallable(const F& f)
{
    using D = std::decay_t<F>;
    if constexpr (IsStdFunction<D>::value || std::is_pointer_v<D>)
        return !f;
    else
        return false;
}

} // namespace deferred_detail

template<class... T> class Deferred
{
public:
    using Data = DeferredData<T...>;
    using ValueCallback = typename Data::ValueCallback;
    using ZeroCallback = typename Data::ZeroCallback;

    Deferred()
        : d(new Data)
    {
    }

    // Registers a callback for resolution. The callback takes the values by
    // value (or const reference): each callback gets its own copies.
    template<class F> Deferred<T...> done(F&& callback, const Qt::ConnectionType& type = Qt::AutoConnection) const
    {
        if (!deferred_detail::isEmptyCallable(callback))
            d->done(wrap(std::forward<F>(callback)), type);
        return *this;
    }

    template<class F> Deferred<T...> fail(F&& callback, const Qt::ConnectionType& type = Qt::AutoConnection) const
    {
        if (!deferred_detail::isEmptyCallable(callback))
            d->fail(wrap(std::forward<F>(callback)), type);
        return *this;
    }

    template<class F> Deferred<T...> progress(F&& callback, const Qt::ConnectionType& type = Qt::AutoConnection) const
    {
        if (!deferred_detail::isEmptyCallable(callback))
            d->progress(wrap(std::forward<F>(callback)), type);
        return *this;
    }

    // Callbacks without arguments, run after every value callback of the same settle.
    Deferred<T...> doneZero(const ZeroCallback& callback, const Qt::ConnectionType& type = Qt::AutoConnection) const
    {
        if (callback)
            d->doneZero(callback, type);
        return *this;
    }

    Deferred<T...> failZero(const ZeroCallback& callback, const Qt::ConnectionType& type = Qt::AutoConnection) const
    {
        if (callback)
            d->failZero(callback, type);
        return *this;
    }

    void resolve(T... values) const { d->resolve(*this, values...); }
    void reject(T... values) const { d->reject(*this, values...); }
    void notify(T... values) const { d->notify(*this, values...); }
    // Rejects without values: only zero-argument fail callbacks run.
    void rejectZero() const { d->rejectZero(*this); }

    // 0 pending, 1 resolved, 2 rejected.
    int state() const { return d->state(); }
    bool isPending() const { return state() == Data::Pending; }

    // When this handle resolves, starts step with its values and follows the
    // handle that step returns. A failure of this handle rejects the chained
    // handle without values.
    template<class... R>
    Deferred<R...> thenAlias(const typename deferred_detail::Identity<std::function<Deferred<R...>(T...)>>::type& step,
        const Qt::ConnectionType& type = Qt::AutoConnection) const
    {
        Deferred<R...> chained;
        // Internal registrations take the stored values by reference and copy
        // them once, into the settle they forward to.
        d->done(
            [step, chained](T&... values) {
                const Deferred<R...> inner = step(values...);
                // A step whose result is known at once is passed on directly: registering
                // on a settled handle would only run the same calls, after four allocations.
                if (inner.d->passOnIfSettled([&chained](R&... r) { chained.resolve(r...); },
                        [&chained](R&... r) { chained.reject(r...); }, [&chained] { chained.rejectZero(); }))
                    return;
                inner.d->done([chained](R&... r) { chained.resolve(r...); }, Qt::AutoConnection);
                inner.d->fail([chained](R&... r) { chained.reject(r...); }, Qt::AutoConnection);
                inner.d->progress([chained](R&... r) { chained.notify(r...); }, Qt::AutoConnection);
                // A step handle rejected without values (itself a chain whose first
                // link failed) must not leave the chain pending for ever.
                inner.d->failZero(
                    [chained] {
                        if (chained.isPending())
                            chained.rejectZero();
                    },
                    Qt::AutoConnection);
            },
            type);
        d->failZero([chained] { chained.rejectZero(); }, type);
        return chained;
    }

    // A Deferred<> that resolves once every member has resolved and rejects as
    // soon as one fails. An empty list resolves at once.
    template<template<class> class Container, class... M>
    static Deferred<> when(const Container<Deferred<M...>>& members)
    {
        static_assert(sizeof...(T) == 0, "when() is called as Deferred<>::when");
        Deferred<> joined;
        const int count = static_cast<int>(members.size());
        if (count == 0) {
            joined.resolve();
            return joined;
        }
        for (const Deferred<M...>& member : members) {
            member.d->doneZero(
                [joined, count] {
                    if (++joined.d->m_joinCount == count)
                        joined.resolve();
                },
                Qt::AutoConnection);
            member.d->failZero(
                [joined] {
                    if (joined.isPending())
                        joined.reject();
                },
                Qt::AutoConnection);
        }
        return joined;
    }

private:
    template<class...> friend class Deferred;

    template<class F> static ValueCallback wrap(F&& callback)
    {
        if constexpr (sizeof...(T) == 0) {
            return ValueCallback(std::forward<F>(callback));
        } else {
            // Hand the callback copies, never the stored values themselves.
            return [callback = std::forward<F>(callback)](T&... values) mutable { callback(T(values)...); };
        }
    }

    QExplicitlySharedDataPointer<Data> d;
};
