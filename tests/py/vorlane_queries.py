"""Random queries for the script tests of paging: words of the indexed pages,
some marked + or -, some quoted phrases of two words that stand together in
a page, joined by blanks, OR or "|"."""
import re


def words_of(text):
    """The lower-case words of 3 to 12 letters of a text (bytes)."""
    return [w.decode() for w in re.findall(rb"[a-z]{3,12}", text.lower())]


def vocabulary(texts, stop=()):
    """The words (of words_of) that occur in at least two of the texts."""
    frequency = {}
    for words in texts:
        for w in set(words):
            frequency[w] = frequency.get(w, 0) + 1
    return sorted(w for w, n in frequency.items() if n >= 2 and w not in stop)


def random_query(rng, words, texts):
    """1 to 5 terms: words from words, or phrases from texts (lists of
    words), marked + (one in five) or - (some, never the first), joined by
    blanks, " OR " or " | "."""
    parts = []
    for i in range(rng.randint(1, 5)):
        if rng.random() < 0.2:
            text = rng.choice([t for t in texts if len(t) > 2])
            k = rng.randrange(len(text) - 1)
            token = '"%s %s"' % (text[k], text[k + 1])
        else:
            token = rng.choice(words)
        mark = rng.random()
        if mark < 0.2:
            token = "+" + token
        elif mark < 0.35 and i > 0:
            token = "-" + token
        parts.append(token)
    text = parts[0]
    for part in parts[1:]:
        r = rng.random()
        text += (" OR " if r < 0.15 else " | " if r < 0.27 else " ") + part
    return text
