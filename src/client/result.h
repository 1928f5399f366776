#pragma once
// What shared code hands back: a value, or the failure that stopped it. Only
// a program's entry decides what a failure does (print it, end the process,
// answer a client); the code below it never ends the process.
#include <optional>
#include <string>
#include <utility>
#include <variant>

// A failure as the user reads it: the whole message, without the "error: "
// that the console client puts before it.
struct Failure {
    std::string message;
};

// Either a T or an E (a Failure unless said otherwise). Converts implicitly
// from both, so a routine returns its value or its failure alike.
template <typename T, typename E = Failure>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() & { return *std::get_if<0>(&state_); }
    const T& value() const& { return *std::get_if<0>(&state_); }
    T&& value() && { return std::move(*std::get_if<0>(&state_)); }

    // Only when !ok().
    const E& error() const { return *std::get_if<1>(&state_); }

private:
    std::variant<T, E> state_;
};

// Success without a value, or the failure.
template <typename E>
class Result<void, E> {
public:
    Result() = default;
    Result(E error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const E& error() const { return *error_; }

private:
    std::optional<E> error_;
};
