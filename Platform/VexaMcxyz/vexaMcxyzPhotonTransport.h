#ifndef vexaMcxyzPhotonTransport_h
#define vexaMcxyzPhotonTransport_h

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexa
{
  namespace mcxyz
  {
    /**
     * The medium: a box of voxels with optical properties, indexed
     * x + nx * (y + ny * z). z is the depth axis: the top face is z = 0 and
     * depth grows with z. Coefficients are in 1/cm, sizes in cm.
     */
    struct OpticalVolume
    {
      /**
       * Largest coefficients a volume may hold [1/cm]. Tissue scatters below
       * 10^3/cm; the strongest tissue absorber, blood near 415 nm, stays below
       * 3 x 10^3/cm. Larger numbers are unit errors (1/m for 1/cm) and would
       * only make packets interact without end.
       */
      static constexpr double MaximumAbsorptionPerCm = 1e4;
      static constexpr double MaximumScatteringPerCm = 1e3;

      std::array<std::size_t, 3> dimensions{{0, 0, 0}};
      std::array<double, 3> voxelSizeCm{{0, 0, 0}};
      std::vector<float> absorption; ///< mu_a [1/cm]
      std::vector<float> scattering; ///< mu_s [1/cm]
      std::vector<float> anisotropy; ///< g of the Henyey-Greenstein phase function, in [-1, 1]

      std::size_t NumberOfVoxels() const { return dimensions[0] * dimensions[1] * dimensions[2]; }

      /**
       * Throws std::invalid_argument naming the first fault (sizes, negative,
       * non-finite or too large coefficients, g outside [-1, 1]).
       */
      void Validate() const;
    };

    /**
     * One light source of a probe. Positions are in cm, x and y measured
     * from the lateral centre of the top face, z downward from the top face
     * (negative z lies above the volume). The launch point is spread over the
     * x-y plane around the position according to the profile; every photon
     * leaves along the direction.
     */
    struct LightSource
    {
      enum class Profile
      {
        Pencil,   ///< all photons at the position
        Gaussian, ///< 2-D Gaussian, radius = 1/e^2 intensity radius
        Disc,     ///< uniform over a disc of the radius
        Rectangle ///< uniform over width (along x) times length (along y)
      };
      Profile profile = Profile::Pencil;
      std::array<double, 3> positionCm{{0, 0, 0}};
      /** Any finite, non-zero vector: only its direction counts (it is normalised without overflow). */
      std::array<double, 3> direction{{0, 0, 1}};
      double radiusCm = 0;
      double widthCm = 0;
      double lengthCm = 0;
      /** Relative share of the photons; shares are normalised over the probe. */
      double weight = 1;
    };

    /** The sources of a probe and the lateral offset that shifts all of them along y. */
    struct Illumination
    {
      std::vector<LightSource> sources;
      double lateralOffsetCm = 0;

      /** Without a probe: one pencil beam into the centre of the top face, straight down. */
      static Illumination Default();

      /** Throws std::invalid_argument for no sources, bad positions, directions, sizes or weights. */
      void Validate() const;
    };

    /**
     * The unit vector along d, computed without overflow or underflow for
     * any finite d (the components are scaled by the largest before the
     * length is taken). Throws std::invalid_argument for a zero or
     * non-finite d.
     */
    std::array<double, 3> UnitDirection(const std::array<double, 3> &d);

    struct TransportSettings
    {
      std::uint64_t photons = 100000;
      std::uint64_t seed = 1;
      /** Worker threads; 0 means one per hardware thread. */
      unsigned int threads = 1;
      /** Russian roulette: below this weight a packet survives with the chance and weight / chance. */
      double rouletteThreshold = 0.01;
      double rouletteChance = 0.1;
      /** Also keep the absorbed energy per voxel (one more volume of tallies). */
      bool tallyAbsorbedEnergy = false;
      /**
       * A packet still alive after this many interactions is terminated and
       * its weight counted as such: a guard against media in which packets
       * would scatter without end. Packets of tissue-like media end long before.
       */
      std::uint64_t maximumInteractions = DefaultMaximumInteractions;

      static constexpr std::uint64_t DefaultMaximumInteractions = 1000000;
    };

    /**
     * What a run produced. Energies are in photon weights (every launched
     * packet carries 1), so launched == photons; the balance
     * launched == absorbed + escaped + terminated + rouletteLoss - rouletteGain
     * holds up to rounding for every run. The totals are summed in a fixed
     * order, so they are the same to the bit for a seed whatever the number
     * of threads; the voxel tallies agree within rounding.
     */
    struct TransportResult
    {
      /** Fluence per unit launched energy [1/cm^2]: track length x weight / (photons x voxel volume). */
      std::vector<double> fluence;
      /** Absorbed share of the launched energy per voxel; empty unless tallyAbsorbedEnergy. */
      std::vector<double> absorbed;
      double launched = 0;
      double absorbedTotal = 0;
      double escaped = 0;
      /** Weight of the packets ended by the interaction cap, and how many they were. */
      double terminated = 0;
      std::uint64_t terminatedPackets = 0;
      double rouletteGain = 0;
      double rouletteLoss = 0;
      std::uint64_t interactions = 0;
      unsigned int threadsUsed = 0;
    };

    /**
     * Cosine of the scattering angle for the Henyey-Greenstein phase function
     * with anisotropy g, from a uniform number xi in [0, 1].
     */
    double SampleHenyeyGreensteinCosine(double g, double xi);

    /** The system refused to start a worker thread; nothing was computed. */
    class ThreadStartError : public std::runtime_error
    {
    public:
      ThreadStartError(unsigned int requested, unsigned int started, const std::string &reason);
      unsigned int Requested() const { return m_Requested; }
      /** Threads that did run, the calling thread included. */
      unsigned int Started() const { return m_Started; }

    private:
      unsigned int m_Requested;
      unsigned int m_Started;
    };

    /**
     * Voxel Monte-Carlo transport of weighted photon packets.
     *
     * The packets are cut into chunks that depend on the photon count only;
     * chunk k draws from random stream k of the seed, and the workers take
     * chunks one after the other as they become free (so a slow or
     * preempted thread holds up no more than one chunk). All workers add into
     * one shared tally per quantity, so memory does not grow with the thread
     * count: a packet sums what it leaves in a voxel until it moves on, and
     * that sum is added into the shared tally atomically.
     * A seed therefore gives the same result whatever the thread count, the
     * voxel values within the rounding of their sums.
     *
     * Runs on the calling thread and settings.threads - 1 more (0: one per
     * hardware thread). Throws std::invalid_argument for an invalid volume,
     * illumination or settings, std::runtime_error when the machine lacks the
     * memory for the tallies (checked before anything is allocated),
     * ThreadStartError when a worker cannot be started; an error in a worker
     * is rethrown here after all workers ended.
     */
    TransportResult SimulatePhotonTransport(const OpticalVolume &volume,
                                            const Illumination &illumination,
                                            const TransportSettings &settings);
  }
}

#endif
