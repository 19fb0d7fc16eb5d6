"""Hypothesis strategies shared by the property tests."""

from hypothesis import strategies as st

u16 = st.integers(0, 65535)
# Any nanosecond in years 1 to 9999, in each of the UTC spellings.
units = st.sampled_from([10**6, 10**3, 1])
nanos = units.flatmap(lambda unit: st.integers(0, 10**9 // unit - 1).map(unit.__mul__))
zones = st.sampled_from(["Z", "z", "+00:00", "-00:00"])
times = st.builds("{}T{:%H:%M:%S}.{:09d}{}".format, st.dates(), st.times(), nanos, zones)
# Values for the point fields that are not floats, by name; every value the field holds.
kinds = dict(time=times, heart_rate_bpm=u16, cadence_rpm=u16, power_watts=u16,
             temperature_c=st.integers(-32768, 32767))  # fmt: skip
floats = st.floats(allow_nan=False, allow_infinity=False)
# XML 1.0 cannot carry most control characters, and a parser turns CR into LF.
characters = st.characters(blacklist_categories=("Cs", "Cc"), blacklist_characters="\ufffe\uffff")
