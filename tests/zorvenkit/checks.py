"""The one style of assertion: check(condition, what) raises Failure(what) when it does not hold."""


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)
