"""Which region a national number of a shared calling code belongs to, from
libphonenumber's metadata (tools/libphonenumber_data.py reads it).

libphonenumber names a number's country when the number is valid for exactly
one region of its calling code: it matches a pattern of one of the region's
number types (fixed line, mobile, toll free, ...). A country line of the area
data stands for every number that begins with its prefix, so a prefix may get
a country only when no number beginning with it can be valid for any other
region of the code. This module answers that with a small automaton built from
each region's patterns: after reading the prefix, which regions can still
complete it to a valid number.
"""


try:
    import re._parser as sre_parse
    import re._constants as sre_constants
except ImportError:  # Python before 3.11
    import sre_parse
    import sre_constants

DIGITS = frozenset("0123456789")


class Automaton:
    """A nondeterministic automaton over the ten digits, built from a regular
    expression of libphonenumber's metadata (literals, classes, \\d,
    alternatives, groups and counted repeats)."""

    def __init__(self, patterns):
        self.edges = []  # per state: [(set of digits, next state)]
        self.empty = []  # per state: [next state] without input
        self.start = self._new()
        self.final = self._new()
        for pattern in patterns:
            end = self._build(sre_parse.parse(pattern), self.start)
            self.empty[end].append(self.final)
        self.live = self._states_reaching_final()

    def _new(self):
        self.edges.append([])
        self.empty.append([])
        return len(self.edges) - 1

    def _build(self, items, start):
        for op, value in items:
            start = self._build_one(op, value, start)
        return start

    def _digits_of(self, items):
        digits = set()
        negate = False
        for op, value in items:
            if op == sre_constants.NEGATE:
                negate = True
            elif op == sre_constants.LITERAL:
                digits.add(chr(value))
            elif op == sre_constants.RANGE:
                digits.update(chr(c) for c in range(value[0], value[1] + 1))
            elif op == sre_constants.CATEGORY and value == sre_constants.CATEGORY_DIGIT:
                digits.update(DIGITS)
            else:
                raise ValueError("unsupported class item %s" % op)
        return (DIGITS - digits) if negate else (digits & DIGITS)

    def _build_one(self, op, value, start):
        if op in (sre_constants.LITERAL, sre_constants.IN, sre_constants.ANY):
            if op == sre_constants.LITERAL:
                digits = {chr(value)} & DIGITS
            elif op == sre_constants.IN:
                digits = self._digits_of(value)
            else:
                digits = set(DIGITS)
            end = self._new()
            self.edges[start].append((frozenset(digits), end))
            return end
        if op == sre_constants.SUBPATTERN:
            return self._build(value[-1], start)
        if op == sre_constants.BRANCH:
            end = self._new()
            for alternative in value[1]:
                begin = self._new()
                self.empty[start].append(begin)
                self.empty[self._build(alternative, begin)].append(end)
            return end
        if op in (sre_constants.MAX_REPEAT, sre_constants.MIN_REPEAT):
            low, high, body = value
            for _ in range(low):
                start = self._build(body, start)
            if high == sre_constants.MAXREPEAT:
                loop = self._new()
                self.empty[start].append(loop)
                self.empty[self._build(body, loop)].append(loop)
                return loop
            end = self._new()
            self.empty[start].append(end)
            for _ in range(high - low):
                start = self._build(body, start)
                self.empty[start].append(end)
            return end
        raise ValueError("unsupported pattern element %s" % op)

    def _states_reaching_final(self):
        backward = [[] for _ in self.edges]
        for state, edges in enumerate(self.edges):
            for _, target in edges:
                backward[target].append(state)
        for state, targets in enumerate(self.empty):
            for target in targets:
                backward[target].append(state)
        live = {self.final}
        todo = [self.final]
        while todo:
            for source in backward[todo.pop()]:
                if source not in live:
                    live.add(source)
                    todo.append(source)
        return live

    def _closure(self, states):
        result = set(states)
        todo = list(states)
        while todo:
            for target in self.empty[todo.pop()]:
                if target not in result:
                    result.add(target)
                    todo.append(target)
        return result

    def begin(self):
        """The states before any digit."""
        return frozenset(self._closure({self.start}))

    def step(self, states, digit):
        """The states after reading `digit` in `states`."""
        return frozenset(self._closure({t for s in states for digits, t in self.edges[s]
                                        if digit in digits}))

    def can_complete(self, states):
        """True when some digit string leads from `states` to a match."""
        return bool(states & self.live)

    def strings(self, limit=100000):
        """Every digit string the automaton accepts. Raises ValueError when there
        are more than `limit` (an unbounded repeat has infinitely many)."""
        found = set()
        todo = [("", self.begin())]
        while todo:
            text, states = todo.pop()
            if self.final in states:
                found.add(text)
            for digit in "0123456789":
                following = self.step(states, digit)
                if self.can_complete(following):
                    if len(text) >= 64 or len(found) + len(todo) > limit:
                        raise ValueError("the pattern matches too many strings")
                    todo.append((text + digit, following))
        return found


def region_automata(patterns_of, regions):
    """{region: Automaton} over the patterns `patterns_of(region)` gives: those
    of every number type of the region."""
    return {region: Automaton(patterns_of(region)) for region in regions}


def certain_prefixes(automata, max_digits):
    """[(national prefix, region)]: the shortest prefixes after which only one
    region can still have a valid number, searched up to `max_digits` digits.
    Prefixes that no region can complete, or that are still shared after
    `max_digits` digits, get nothing."""
    found = []

    def visit(prefix, states):
        states = {r: s for r, s in states.items() if automata[r].can_complete(s)}
        if not states:
            return
        if len(states) == 1:
            found.append((prefix, next(iter(states))))
            return
        if len(prefix) >= max_digits:
            return
        for digit in "0123456789":
            visit(prefix + digit, {r: automata[r].step(s, digit) for r, s in states.items()})

    visit("", {r: automata[r].begin() for r in sorted(automata)})
    return found
